// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/photoshop_resources.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "metadata/annotation_test_support.h"

namespace norvo::metadata {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Appends byte by byte (GCC 12 misreads range inserts into small vectors).
void Append(Bytes& to, const Bytes& more) {
  for (std::uint8_t b : more) to.push_back(b);
}

Bytes Header() { return Bytes(kPhotoshopSignature.begin(), kPhotoshopSignature.end()); }

std::vector<std::uint16_t> Ids(const Bytes& block) {
  std::vector<std::uint16_t> ids;
  for (const PhotoshopResource& r : ReadPhotoshopResources(block)) ids.push_back(r.id);
  return ids;
}

// Odd data is padded to even; the XMP resource is named, the others not.
TEST(PutPhotoshopResource, LayoutOfTheBlockAndItsResources) {
  Bytes block;
  const Bytes iim = {0x1C, 2, 0, 0, 2, 0, 2};
  ASSERT_EQ(PutPhotoshopResource(block, kResourceIptc, iim), err::kNone);
  Bytes expected = Header();
  Append(expected, Bytes{'8', 'B', 'I', 'M', 0x04, 0x04, 0x00, 0x00, 0, 0, 0, 8});
  Append(expected, iim);
  expected.push_back(0);
  EXPECT_EQ(block, expected);

  const Bytes xmp = {'<', 'x', '/', '>'};
  Bytes resource = EncodePhotoshopResource(kResourceXmp, xmp);
  EXPECT_EQ(resource, (Bytes{'8', 'B', 'I', 'M', 0x04, 0x24, 3, 'X', 'M', 'P', 0, 0, 0, 4, '<', 'x', '/', '>'}));
  std::vector<PhotoshopResource> read = ReadPhotoshopResources(resource);
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(read[0].name, "XMP");
  EXPECT_EQ(Bytes(read[0].data.begin(), read[0].data.end()), xmp);
}

TEST(PutPhotoshopResource, ReplacesInPlaceOrAppends) {
  Bytes block;
  ASSERT_EQ(PutPhotoshopResource(block, 0x03ED, Bytes(16, 1)), err::kNone);
  ASSERT_EQ(PutPhotoshopResource(block, kResourceIptc, Bytes(3, 2)), err::kNone);
  ASSERT_EQ(PutPhotoshopResource(block, 0x0425, Bytes(16, 3)), err::kNone);
  EXPECT_EQ(Ids(block), (std::vector<std::uint16_t>{0x03ED, kResourceIptc, 0x0425}));
  ASSERT_EQ(PutPhotoshopResource(block, kResourceIptc, Bytes(40, 4)), err::kNone);
  EXPECT_EQ(Ids(block), (std::vector<std::uint16_t>{0x03ED, kResourceIptc, 0x0425}));
  EXPECT_EQ(FindPhotoshopResource(block, kResourceIptc)->size(), 40u);
  EXPECT_EQ(FindPhotoshopResource(block, 0x0425)->front(), 3);
  ASSERT_EQ(PutPhotoshopResource(block, kResourceXmp, Bytes(5, 5)), err::kNone);
  EXPECT_EQ(Ids(block).back(), kResourceXmp);
  bool complete = false;
  ReadPhotoshopResources(block, &complete);
  EXPECT_TRUE(complete);

  ASSERT_EQ(PutPhotoshopResource(block, kResourceIptcDigest, Bytes(16, 6)), err::kNone);
  const Bytes first_resource(block.begin() + 14, block.begin() + 14 + 28);
  Append(block, first_resource);  // a second 0x03ED at the end
  EXPECT_TRUE(RemovePhotoshopResource(block, 0x03ED));
  EXPECT_EQ(Ids(block), (std::vector<std::uint16_t>{kResourceIptc, 0x0425, kResourceXmp}));
  EXPECT_FALSE(RemovePhotoshopResource(block, 0x03ED));
}

TEST(PutPhotoshopResource, RefusesABlockItCannotWalk) {
  Bytes block;
  ASSERT_EQ(PutPhotoshopResource(block, 0x03ED, Bytes(16, 1)), err::kNone);
  block.resize(block.size() - 3);  // the last resource runs past the end
  Bytes before = block;
  EXPECT_EQ(PutPhotoshopResource(block, kResourceIptc, Bytes(2, 2)), err::kParam);
  EXPECT_EQ(block, before);
  bool complete = true;
  EXPECT_TRUE(ReadPhotoshopResources(block, &complete).empty());
  EXPECT_FALSE(complete);
  Bytes junk = Header();
  Append(junk, Bytes{'A', 'B', 'C', 'D'});
  EXPECT_EQ(PutPhotoshopResource(junk, kResourceIptc, Bytes(2, 2)), err::kParam);
}

TEST(ReadPhotoshopResources, RealApp13Block) {
  Bytes block = testing::JpegSegment(testing::ReadBytes(testing::PhotoPath("BlueSquare.jpg")), 0xED, {});
  ASSERT_FALSE(block.empty());
  bool complete = false;
  std::vector<PhotoshopResource> resources = ReadPhotoshopResources(block, &complete);
  EXPECT_TRUE(complete);
  EXPECT_GT(resources.size(), 3u);
  std::optional<std::span<const std::uint8_t>> iim = FindPhotoshopResource(block, kResourceIptc);
  ASSERT_TRUE(iim.has_value());
  EXPECT_EQ(iim->front(), 0x1C);
  // Putting a resource's own data back keeps the other resources; the stored
  // length is rounded up to even, so odd data comes back with its pad byte.
  Bytes copy = block;
  Bytes data(iim->begin(), iim->end());
  ASSERT_EQ(PutPhotoshopResource(copy, kResourceIptc, data), err::kNone);
  EXPECT_EQ(Ids(copy), Ids(block));
  std::span<const std::uint8_t> stored = *FindPhotoshopResource(copy, kResourceIptc);
  if (data.size() % 2 != 0) data.push_back(0);
  EXPECT_EQ(Bytes(stored.begin(), stored.end()), data);
}

}  // namespace
}  // namespace norvo::metadata
