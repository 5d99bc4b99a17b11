// SPDX-License-Identifier: GPL-3.0-or-later
// For tests: TIFF structures laid out by hand, in either byte order, with
// sub-IFDs, maker notes and next-IFD links.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "metadata/tiff_tags.h"
#include "platform/byte_io.h"

namespace norvo::metadata::testing {

using Bytes = std::vector<std::uint8_t>;

// Lays out a TIFF structure: the header, the IFDs one after another, then
// the values that do not fit in an entry. Sub-IFD pointers are filled in when
// the layout is known.
class TiffBuilder {
 public:
  explicit TiffBuilder(Endian order) : order_(order) {}

  int addIfd(Bytes prefix = {}) {
    ifds_.push_back({});
    ifds_.back().prefix = std::move(prefix);
    return static_cast<int>(ifds_.size()) - 1;
  }
  void raw(int ifd, std::uint16_t tag, std::uint16_t type, std::uint32_t count, Bytes value) {
    ifds_[ifd].entries.push_back({tag, type, count, std::move(value), -1});
  }
  void shorts(int ifd, std::uint16_t tag, std::vector<std::uint16_t> values, std::uint16_t type = 3) {
    Bytes b;
    for (auto v : values) put16(b, v);
    raw(ifd, tag, type, static_cast<std::uint32_t>(values.size()), b);
  }
  void longs(int ifd, std::uint16_t tag, std::vector<std::uint32_t> values) {
    Bytes b;
    for (auto v : values) put32(b, v);
    raw(ifd, tag, 4, static_cast<std::uint32_t>(values.size()), b);
  }
  void rationals(int ifd, std::uint16_t tag, std::vector<std::pair<std::int64_t, std::int64_t>> values,
                 std::uint16_t type = 5) {
    Bytes b;
    for (auto [n, d] : values) {
      put32(b, static_cast<std::uint32_t>(n));
      put32(b, static_cast<std::uint32_t>(d));
    }
    raw(ifd, tag, type, static_cast<std::uint32_t>(values.size()), b);
  }
  void ascii(int ifd, std::uint16_t tag, const std::string& text) {
    Bytes b(text.begin(), text.end());
    b.push_back(0);
    raw(ifd, tag, 2, static_cast<std::uint32_t>(b.size()), b);
  }
  void undefined(int ifd, std::uint16_t tag, Bytes value) {
    auto n = static_cast<std::uint32_t>(value.size());
    raw(ifd, tag, 7, n, std::move(value));
  }
  // An entry pointing at another IFD (LONG, or UNDEFINED for maker notes).
  void link(int ifd, std::uint16_t tag, int target, std::uint16_t type = 4) {
    ifds_[ifd].entries.push_back({tag, type, 1, {}, target});
  }
  void next(int ifd, int target) { ifds_[ifd].next = target; }

  Bytes build() const {
    std::vector<std::uint32_t> at(ifds_.size());
    std::uint32_t pos = kTiffHeaderSize;
    for (std::size_t i = 0; i < ifds_.size(); ++i) {
      pos += static_cast<std::uint32_t>(ifds_[i].prefix.size());
      at[i] = pos;
      pos += static_cast<std::uint32_t>(2 + kIfdEntrySize * ifds_[i].entries.size() + 4);
    }
    Bytes out;
    out.push_back(order_ == Endian::kLittle ? 'I' : 'M');
    out.push_back(out[0]);
    put16(out, 42);
    put32(out, ifds_.empty() ? 0 : at[0]);
    Bytes data;
    for (std::size_t i = 0; i < ifds_.size(); ++i) {
      const Ifd& ifd = ifds_[i];
      out.insert(out.end(), ifd.prefix.begin(), ifd.prefix.end());
      put16(out, static_cast<std::uint16_t>(ifd.entries.size()));
      for (const Entry& e : ifd.entries) {
        put16(out, e.tag);
        put16(out, e.type);
        const Ifd* target_ifd = e.target >= 0 ? &ifds_[static_cast<std::size_t>(e.target)] : nullptr;
        // A maker note's count is the size of its IFD.
        put32(out, target_ifd && e.type != 4
                       ? static_cast<std::uint32_t>(2 + kIfdEntrySize * target_ifd->entries.size() + 4)
                       : e.count);
        if (target_ifd) {
          std::uint32_t target = at[static_cast<std::size_t>(e.target)] -
                                 static_cast<std::uint32_t>(ifds_[static_cast<std::size_t>(e.target)].prefix.size());
          put32(out, target);
        } else if (e.value.size() <= 4) {
          Bytes v = e.value;
          v.resize(4, 0);
          out.insert(out.end(), v.begin(), v.end());
        } else {
          put32(out, pos + static_cast<std::uint32_t>(data.size()));
          data.insert(data.end(), e.value.begin(), e.value.end());
        }
      }
      put32(out, ifd.next >= 0 ? at[static_cast<std::size_t>(ifd.next)] : 0);
    }
    out.insert(out.end(), data.begin(), data.end());
    return out;
  }

  void put16(Bytes& b, std::uint16_t v) const {
    ByteWriter w;
    order_ == Endian::kLittle ? w.u16le(v) : w.u16be(v);
    b.insert(b.end(), w.buffer().begin(), w.buffer().end());
  }
  void put32(Bytes& b, std::uint32_t v) const {
    ByteWriter w;
    order_ == Endian::kLittle ? w.u32le(v) : w.u32be(v);
    b.insert(b.end(), w.buffer().begin(), w.buffer().end());
  }

 private:
  struct Entry {
    std::uint16_t tag, type;
    std::uint32_t count;
    Bytes value;
    int target;
  };
  struct Ifd {
    Bytes prefix;
    std::vector<Entry> entries;
    int next = -1;
  };
  Endian order_;
  std::vector<Ifd> ifds_;
};

}  // namespace norvo::metadata::testing
