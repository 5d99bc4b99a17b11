// SPDX-License-Identifier: GPL-3.0-or-later
// Reading and writing a stored record through one table of its fields.
//
// A record type gives a visit function that names every field once, with
// its offset and its member, in offset order:
//
//   template <typename Fields, typename Record>
//   void VisitThing(Record& r, Fields& f) { f.u8(0x00, r.kind); f.u16(0x02, r.seconds); ... }
//
// Handing it a RecordFieldReader reads the record and a RecordFieldWriter
// writes it, so reader and writer cannot drift apart. The reader seeks to
// each offset through the bounds-checked ByteReader (a short record leaves
// the reader not ok); the writer appends and checks that each field starts
// where the table says, so a table with a gap or an overlap is caught
// (`ok` false).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/byte_io.h"

namespace norvo {

template <Endian kOrder>
struct RecordFieldReader {
  ByteReader& r;
  void at(std::size_t offset) { r.seek(offset); }
  void u8(std::size_t o, std::uint8_t& v) { at(o), v = r.u8(); }
  void u16(std::size_t o, std::uint16_t& v) { at(o), v = get16(); }
  void i16(std::size_t o, std::int16_t& v) { at(o), v = static_cast<std::int16_t>(get16()); }
  void u32(std::size_t o, std::uint32_t& v) { at(o), v = get32(); }
  void i32(std::size_t o, std::int32_t& v) { at(o), v = static_cast<std::int32_t>(get32()); }
  template <std::size_t N>
  void raw(std::size_t o, std::array<std::uint8_t, N>& bytes) {
    at(o);
    r.read(bytes);
  }
  std::uint16_t get16() { return kOrder == Endian::kLittle ? r.u16le() : r.u16be(); }
  std::uint32_t get32() { return kOrder == Endian::kLittle ? r.u32le() : r.u32be(); }
};

template <Endian kOrder>
struct RecordFieldWriter {
  ByteWriter& w;
  bool ok = true;
  void at(std::size_t offset) { ok = ok && w.size() == offset; }
  void u8(std::size_t o, std::uint8_t v) { at(o), w.u8(v); }
  void u16(std::size_t o, std::uint16_t v) { at(o), put16(v); }
  void i16(std::size_t o, std::int16_t v) { at(o), put16(static_cast<std::uint16_t>(v)); }
  void u32(std::size_t o, std::uint32_t v) { at(o), put32(v); }
  void i32(std::size_t o, std::int32_t v) { at(o), put32(static_cast<std::uint32_t>(v)); }
  template <std::size_t N>
  void raw(std::size_t o, const std::array<std::uint8_t, N>& bytes) {
    at(o);
    w.bytes(bytes);
  }
  void put16(std::uint16_t v) { kOrder == Endian::kLittle ? w.u16le(v) : w.u16be(v); }
  void put32(std::uint32_t v) { kOrder == Endian::kLittle ? w.u32le(v) : w.u32be(v); }
};

}  // namespace norvo
