// SPDX-License-Identifier: GPL-3.0-or-later
// Random access to the bytes of a file or of a block in memory, so that the
// metadata readers read only the segments, entries and values they need.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/error_codes.h"
#include "platform/file.h"

namespace norvo::metadata {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::int64_t size() const = 0;
  // Exactly out.size() bytes at `offset`, or err::kEndOfFile when they are
  // not all there.
  virtual ErrorCode readAt(std::int64_t offset, std::span<std::uint8_t> out) const = 0;
};

class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::int64_t size() const override { return static_cast<std::int64_t>(bytes_.size()); }
  ErrorCode readAt(std::int64_t offset, std::span<std::uint8_t> out) const override;

 private:
  std::span<const std::uint8_t> bytes_;
};

class FileSource final : public ByteSource {
 public:
  // The file must stay open while the source is used.
  explicit FileSource(const File& file);
  std::int64_t size() const override { return size_; }
  ErrorCode readAt(std::int64_t offset, std::span<std::uint8_t> out) const override;

 private:
  static constexpr std::size_t kWindowSize = 64 * 1024;
  const File& file_;
  std::int64_t size_ = 0;
  mutable std::vector<std::uint8_t> window_;
  mutable std::int64_t window_at_ = -1;
};

}  // namespace norvo::metadata
