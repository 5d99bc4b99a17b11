// SPDX-License-Identifier: GPL-3.0-or-later
// The description of version 2 and version 4 ICC profiles.
#include "metadata/icc_profile.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/byte_io.h"

namespace norvo::metadata {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(ColourProfile, IccDescriptionOfVersionTwoAndFourProfiles) {
  auto profile = [](const Bytes& tag) {
    ByteWriter w;
    w.zeros(128);
    w.u32be(1);
    w.tag("desc");
    w.u32be(128 + 4 + 12);
    w.u32be(static_cast<std::uint32_t>(tag.size()));
    w.bytes(tag);
    return w.take();
  };
  ByteWriter v2;
  v2.tag("desc");
  v2.u32be(0);
  v2.u32be(5);
  v2.bytes(Bytes{'s', 'R', 'G', 'B', 0});
  EXPECT_EQ(IccProfileDescription(profile(v2.buffer())), "sRGB");
  ByteWriter v4;
  v4.tag("mluc");
  v4.u32be(0);
  v4.u32be(1);
  v4.u32be(12);
  v4.u32be(0x656E5553);
  v4.u32be(4);
  v4.u32be(28);
  v4.bytes(Bytes{0, 'P', 0, '3'});
  EXPECT_EQ(IccProfileDescription(profile(v4.buffer())), "P3");
  // A tag that claims more bytes than the profile has.
  Bytes bad = profile(v2.buffer());
  bad[128 + 4 + 11] = 0xFF;
  EXPECT_EQ(IccProfileDescription(bad), "");
  EXPECT_EQ(IccProfileDescription(Bytes(20, 0)), "");
}

}  // namespace
}  // namespace norvo::metadata
