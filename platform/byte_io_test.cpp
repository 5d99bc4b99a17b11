// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/byte_io.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace norvo {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kHuge = std::numeric_limits<std::size_t>::max();

// The same values in every width and byte order, as the reader must see them.
const Bytes kMixed = {0x12, 0x34, 0xDE, 0xAD, 0xBE, 0xEF, 1, 2, 3, 4, 5, 6, 7, 8,
                      0x34, 0x12, 0xEF, 0xBE, 0xAD, 0xDE, 0xFF, 0xFE, 0x80, 0, 0, 0};

TEST(ByteReader, ReadPastEndFailsAndStaysFailed) {
  const Bytes data = {1, 2, 3};
  ByteReader r(data);
  EXPECT_EQ(r.u8(), 1);
  EXPECT_EQ(r.u32be(), 0u);  // only two bytes left
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.remaining(), 0u);
  // Bytes that are there are no longer handed out once the reader has failed.
  EXPECT_EQ(r.u8(), 0);
  r.seek(0);
  EXPECT_EQ(r.u8(), 0);
  EXPECT_TRUE(r.bytes(1).empty());
  EXPECT_FALSE(r.ok());
}

TEST(ByteReader, BoundsOfSeekSkipAndRead) {
  const Bytes data = {10, 20, 30, 40};
  ByteReader at_end(data);
  at_end.seek(4);  // the end itself is a valid position
  EXPECT_TRUE(at_end.ok() && at_end.atEnd());
  at_end.seek(5);
  EXPECT_FALSE(at_end.ok());

  ByteReader wrap(data);
  wrap.skip(1);
  wrap.skip(kHuge);  // must not wrap around
  EXPECT_FALSE(wrap.ok());

  ByteReader partial(data);
  partial.u8();
  std::uint8_t out[4] = {9, 9, 9, 9};
  partial.read(out);  // 4 asked, 3 left: all zeros, never a partial copy
  EXPECT_FALSE(partial.ok());
  EXPECT_EQ(Bytes(out, out + 4), Bytes(4, 0));
}

TEST(ByteWriter, WritesWhatTheReaderReadsInBothByteOrders) {
  ByteWriter w;
  w.u16be(0x1234);
  w.u32be(0xDEADBEEF);
  w.u64be(0x0102030405060708ull);
  w.u16le(0x1234);
  w.u32le(0xDEADBEEF);
  w.u16be(0xFFFE);
  w.u32be(0x80000000);
  EXPECT_EQ(w.buffer(), kMixed);

  ByteReader r(w.buffer());
  EXPECT_EQ(r.u16be(), 0x1234);
  EXPECT_EQ(r.u32be(), 0xDEADBEEFu);
  EXPECT_EQ(r.u64be(), 0x0102030405060708ull);
  EXPECT_EQ(r.u16le(), 0x1234);
  EXPECT_EQ(r.u32le(), 0xDEADBEEFu);
  EXPECT_EQ(r.i16be(), -2);
  EXPECT_EQ(r.i32be(), std::numeric_limits<std::int32_t>::min());
  EXPECT_TRUE(r.ok() && r.atEnd());

  EXPECT_EQ(FourCC("JPEG"), 0x4A504547u);
  EXPECT_EQ(FourCCToString(FourCC("NRVO")), "NRVO");
  w.tag("JPEG");
  EXPECT_EQ(FourCC("JPEG"), ByteReader(std::span(w.buffer()).last(4)).u32be());
}

TEST(OrderedByteReader, ReadsEachFieldInTheOrderItWasGiven) {
  struct Case {
    const char* name;
    Endian order;
    std::uint16_t u16;
    std::uint32_t u32;
  };
  const Bytes data = {0x12, 0x34, 0xDE, 0xAD, 0xBE, 0xEF};
  const Case cases[] = {
      {"big-endian", Endian::kBig, 0x1234, 0xDEADBEEF},
      {"little-endian", Endian::kLittle, 0x3412, 0xEFBEADDE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OrderedByteReader r(data, c.order);
    EXPECT_EQ(r.u16(), c.u16);
    EXPECT_EQ(r.u32(), c.u32);
    EXPECT_TRUE(r.ok() && r.atEnd());
    EXPECT_EQ(r.u16(), 0);  // past the end, whatever the order
    EXPECT_FALSE(r.ok());
  }
}

TEST(ByteWriter, PatchStaysWithinWrittenBytes) {
  ByteWriter w;
  w.zeros(6);
  EXPECT_TRUE(w.patchU32be(2, 0xA1B2C3D4));  // the last four bytes exactly
  EXPECT_FALSE(w.patchU32be(3, 1));
  EXPECT_FALSE(w.patchU32be(6, 1));
  EXPECT_FALSE(w.patchU32be(kHuge - 1, 1));
  EXPECT_EQ(w.buffer(), (Bytes{0, 0, 0xA1, 0xB2, 0xC3, 0xD4}));  // refusals change nothing
}

TEST(FixedBytes, RefusesAccessOutsideTheBuffer) {
  Bytes data(6, 0);
  FixedBytes f(data);
  f.setU32be(2, 0x01020304);
  EXPECT_EQ(f.getU16be(1), 0x0001);
  EXPECT_TRUE(f.ok());
  f.setU32be(3, 0xFFFFFFFF);
  EXPECT_FALSE(f.ok());
  EXPECT_EQ(data, (Bytes{0, 0, 1, 2, 3, 4}));
  EXPECT_TRUE(f.slice(4, kHuge).empty());
}

}  // namespace
}  // namespace norvo
