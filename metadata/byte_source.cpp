// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/byte_source.h"

#include <algorithm>

namespace norvo::metadata {

ErrorCode MemorySource::readAt(std::int64_t offset, std::span<std::uint8_t> out) const {
  if (offset < 0 || static_cast<std::uint64_t>(offset) > bytes_.size() ||
      out.size() > bytes_.size() - static_cast<std::size_t>(offset)) {
    return err::kEndOfFile;
  }
  std::copy_n(bytes_.begin() + offset, out.size(), out.begin());
  return err::kNone;
}

FileSource::FileSource(const File& file) : file_(file) {
  if (file_.endOfFile(&size_) != err::kNone) size_ = 0;
}

ErrorCode FileSource::readAt(std::int64_t offset, std::span<std::uint8_t> out) const {
  if (offset < 0 || offset > size_ || static_cast<std::uint64_t>(size_ - offset) < out.size()) return err::kEndOfFile;
  if (out.size() >= kWindowSize) return file_.readAt(offset, out);
  // Small reads (entries, segment headers, short values) come from one
  // window read ahead from the file, so a walk costs a few system calls
  // instead of one per value.
  auto in_window = [&] {
    return window_at_ >= 0 && offset >= window_at_ &&
           static_cast<std::uint64_t>(offset - window_at_) + out.size() <= window_.size();
  };
  if (!in_window()) {
    window_.resize(static_cast<std::size_t>(std::min<std::int64_t>(kWindowSize, size_ - offset)));
    window_at_ = -1;
    if (ErrorCode e = file_.readAt(offset, window_); e != err::kNone) return e;
    window_at_ = offset;
  }
  std::copy_n(window_.begin() + (offset - window_at_), out.size(), out.begin());
  return err::kNone;
}

}  // namespace norvo::metadata
