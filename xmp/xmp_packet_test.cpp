// SPDX-License-Identifier: GPL-3.0-or-later
#include "xmp/xmp_packet.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "xmp/xmp_iterator.h"
#include "xmp/xmp_toolkit.h"

namespace norvo::xmp {
namespace {

using Strings = std::vector<std::string>;

// The XMP packet embedded in a test photo, found by its wrapper.
std::string PacketFromPhoto(const std::string& name) {
  std::ifstream in(std::string(NORVO_TESTDATA_DIR) + "/photos/" + name, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::size_t begin = bytes.find("<?xpacket begin");
  std::size_t end = bytes.find("<?xpacket end");
  if (begin == std::string::npos || end == std::string::npos) return {};
  end = bytes.find("?>", end);
  return bytes.substr(begin, end + 2 - begin);
}

XmpPacket MustParse(std::string_view text) {
  Result<XmpPacket> parsed = XmpPacket::Parse(text);
  EXPECT_TRUE(parsed.ok()) << parsed.status.name();
  return parsed.has_value() ? std::move(*parsed.value) : XmpPacket();
}

std::string Serialized(const XmpPacket& packet) {
  Result<std::string> text = packet.serialize({.omit_wrapper = true});
  EXPECT_TRUE(text.ok());
  return text.value.value_or("");
}

TEST(XmpPacket, ParsesARealPacketWithItsArraysAndAliases) {
  std::string text = PacketFromPhoto("BlueSquare.jpg");
  ASSERT_FALSE(text.empty());
  XmpPacket packet = MustParse(text);
  EXPECT_EQ(packet.get(kNsDublinCore, "format").value, "image/jpeg");
  EXPECT_EQ(packet.get(kNsPhotoshop, "ICCProfile").value, "sRGB IEC61966-2.1");
  Result<Strings> subject = packet.arrayItems(kNsDublinCore, "subject");
  ASSERT_TRUE(subject.has_value());
  EXPECT_EQ(*subject.value, (Strings{"XMP", "Blue Square", "test file", "Photoshop", ".jpg"}));
  // photoshop:Keywords and photoshop:Caption are the toolkit's aliases of
  // dc:subject and the default dc:description.
  EXPECT_EQ(packet.arrayItems(kNsPhotoshop, "Keywords").value, subject.value);
  EXPECT_EQ(packet.get(kNsPhotoshop, "Caption").value, packet.getLocalizedText(kNsDublinCore, "description").value);
  // A composite node has no simple value.
  Result<std::string> as_text = packet.get(kNsDublinCore, "subject");
  EXPECT_TRUE(as_text.ok());
  EXPECT_FALSE(as_text.has_value());
}

// What the process writes to file descriptor 2 while `run` runs.
std::string WrittenToStderr(const std::function<void()>& run) {
  std::fflush(stderr);
  std::cerr.flush();
  int saved = ::dup(2);
  std::FILE* sink = std::tmpfile();
  ::dup2(::fileno(sink), 2);
  run();
  std::fflush(stderr);
  std::cerr.flush();
  ::dup2(saved, 2);
  ::close(saved);
  std::string text;
  std::rewind(sink);
  for (int c = std::fgetc(sink); c != EOF; c = std::fgetc(sink)) text.push_back(static_cast<char>(c));
  std::fclose(sink);
  return text;
}

TEST(XmpPacket, ToolkitComplaintsBecomeStatusMessagesNotTerminalOutput) {
  // The fault: the toolkit printed "XML parsing failure" and the like to the
  // terminal itself, and callers only had a number.
  XmpPacket packet = MustParse(PacketFromPhoto("BlueSquare.jpg"));
  struct Case {
    const char* name;
    std::function<Status()> call;
    int code;
    std::string message;
  };
  const Case cases[] = {
      {"malformed packet",
       [] { return XmpPacket::Parse("<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF").status; },
       xmp_error::kBadXml, "XML parsing failure"},
      {"packet that cannot fit", [&] { return packet.serialize({.exact_length = 200}).status; },
       xmp_error::kBadSerialize, "Can't fit into specified packet size"},
      {"unregistered namespace", [&] { return packet.set("http://example.invalid/never/", "City", "x"); },
       xmp_error::kBadSchema, "Unregistered schema namespace URI"},
      {"malformed path", [&] { return packet.get(kNsPhotoshop, "City[[").status; }, xmp_error::kBadXPath,
       "Missing ']' or '=' for array index"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Status status;
    EXPECT_EQ(WrittenToStderr([&] { status = c.call(); }), "");
    EXPECT_EQ(status.code(), c.code);
    EXPECT_EQ(status.message(), c.message);
    EXPECT_EQ(status.text(), c.message);
  }
  // Our own refusals have no toolkit words: the text is the code's name.
  Result<XmpPacket> empty = XmpPacket::Parse("");
  EXPECT_EQ(empty.status.code(), xmp_error::kEmptyPacket);
  EXPECT_EQ(empty.status.text(), "empty packet");
  // Output that is not the toolkit's still reaches the terminal.
  EXPECT_EQ(WrittenToStderr([] { std::cerr << "ours\n"; }), "ours\n");
}

TEST(XmpPacket, SimplePropertiesAndMissingOnes) {
  XmpPacket packet;
  Result<std::string> missing = packet.get(kNsPhotoshop, "City");
  EXPECT_TRUE(missing.ok());  // missing is not an error
  EXPECT_FALSE(missing.has_value());
  EXPECT_TRUE(packet.remove(kNsPhotoshop, "City").ok());
  ASSERT_TRUE(packet.set(kNsPhotoshop, "City", "Ålesund").ok());
  ASSERT_TRUE(packet.set(kNsPhotoshop, "City", "Bergen").ok());
  EXPECT_EQ(packet.get(kNsPhotoshop, "City").value, "Bergen");
  ASSERT_TRUE(packet.remove(kNsPhotoshop, "City").ok());
  EXPECT_FALSE(packet.has(kNsPhotoshop, "City"));
  EXPECT_EQ(Serialized(packet).find("City"), std::string::npos);
  EXPECT_EQ(packet.get(kNsPhotoshop, "").status.code(), xmp_error::kBadXPath);
}

TEST(XmpPacket, ArraysOfEachForm) {
  XmpPacket packet;
  ASSERT_TRUE(packet.appendArrayItem(kNsPhotoshop, "SupplementalCategories", ArrayForm::kBag, "b1").ok());
  ASSERT_TRUE(packet.appendArrayItem(kNsPhotoshop, "SupplementalCategories", ArrayForm::kBag, "b2").ok());
  ASSERT_TRUE(packet.appendArrayItem(kNsDublinCore, "creator", ArrayForm::kSeq, "s1").ok());
  ASSERT_TRUE(packet.appendArrayItem(kNsDublinCore, "type", ArrayForm::kAlt, "a1").ok());
  std::string xml = Serialized(packet);
  for (const char* form : {"<rdf:Bag>", "<rdf:Seq>", "<rdf:Alt>"}) EXPECT_NE(xml.find(form), std::string::npos);
  ASSERT_TRUE(packet.setArrayItem(kNsPhotoshop, "SupplementalCategories", 1, "B1").ok());
  EXPECT_EQ(packet.arrayItems(kNsPhotoshop, "SupplementalCategories").value, (Strings{"B1", "b2"}));
  EXPECT_EQ(packet.setArrayItem(kNsPhotoshop, "SupplementalCategories", 9, "x").code(), xmp_error::kBadIndex);
  // Not an array: absent, not an error.
  ASSERT_TRUE(packet.set(kNsPhotoshop, "City", "Oslo").ok());
  Result<Strings> not_array = packet.arrayItems(kNsPhotoshop, "City");
  EXPECT_TRUE(not_array.ok());
  EXPECT_FALSE(not_array.has_value());
}

TEST(XmpPacket, LanguageAlternativesThroughSelectorPaths) {
  XmpPacket packet;
  const std::string path = "UsageTerms/*[@xml:lang='x-default']";
  // The alt array does not exist yet: setting through the selector makes it.
  ASSERT_TRUE(packet.set(kNsXmpRights, path, "No reuse").ok());
  EXPECT_EQ(packet.get(kNsXmpRights, path).value, "No reuse");
  EXPECT_EQ(packet.getLocalizedText(kNsXmpRights, "UsageTerms").value, "No reuse");
  ASSERT_TRUE(packet.setLocalizedText(kNsXmpRights, "UsageTerms", "fr-FR", "Pas de reprise").ok());
  EXPECT_EQ(packet.getLocalizedText(kNsXmpRights, "UsageTerms", "fr-FR").value, "Pas de reprise");
  ASSERT_TRUE(packet.remove(kNsXmpRights, "UsageTerms[?xml:lang=\"x-default\"]").ok());
  EXPECT_FALSE(packet.has(kNsXmpRights, path));
}

TEST(XmpPacket, StructFieldsTakeTheSchemaPrefix) {
  XmpPacket packet;
  ASSERT_TRUE(packet.set(kNsIptcCore, "CreatorContactInfo/CiAdrCity", "Paris").ok());
  EXPECT_EQ(packet.get(kNsIptcCore, "CreatorContactInfo/CiAdrCity").value, "Paris");
  EXPECT_EQ(packet.get(kNsIptcCore, "CreatorContactInfo/Iptc4xmpCore:CiAdrCity").value, "Paris");
  EXPECT_NE(Serialized(packet).find("<Iptc4xmpCore:CiAdrCity>Paris</Iptc4xmpCore:CiAdrCity>"), std::string::npos);
}

TEST(XmpPacket, PathHelpers) {
  const std::pair<const char*, const char*> qualified[] = {{"A/B/p:C", "A/x:B/p:C"},
                                                           {"A[2]/B", "A[2]/x:B"},
                                                           {"A/*[@xml:lang='a/b']", "A/*[@xml:lang='a/b']"},
                                                           {"A/?xml:lang", "A/?xml:lang"}};
  for (auto [path, want] : qualified) EXPECT_EQ(QualifyFieldSteps(path, "x"), want);
  LanguageSelector s;
  ASSERT_TRUE(SplitLanguageSelector("Rights/*[@xml:lang='x-default']", &s));
  EXPECT_EQ(s.array_path + "|" + s.lang, "Rights|x-default");
  ASSERT_TRUE(SplitLanguageSelector("Rights[?xml:lang=\"de\"]", &s));
  EXPECT_EQ(s.array_path + "|" + s.lang, "Rights|de");
  for (const char* bad : {"Rights[1]", "Rights[?xml:lang='x]", "/*[@xml:lang='x']"}) {
    EXPECT_FALSE(SplitLanguageSelector(bad, &s)) << bad;
  }
}

TEST(XmpPacket, Dates) {
  XmpPacket packet;
  DateTime date{};
  date.year = 2024;
  date.month = 3;
  date.day = 7;
  ASSERT_TRUE(packet.setDate(kNsPhotoshop, "DateCreated", date).ok());
  Result<DateTime> back = packet.getDate(kNsPhotoshop, "DateCreated");
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back.value->year * 10000 + back.value->month * 100 + back.value->day, 20240307);
  ASSERT_TRUE(packet.set(kNsPhotoshop, "DateCreated", "last summer").ok());
  EXPECT_FALSE(packet.getDate(kNsPhotoshop, "DateCreated").ok());
  EXPECT_FALSE(packet.getDate(kNsPhotoshop, "Missing").has_value());
}

TEST(XmpPacket, SerialisesToAnExactLength) {
  std::string original = PacketFromPhoto("BlueSquare.jpg");
  XmpPacket packet = MustParse(original);
  ASSERT_TRUE(packet.set(kNsPhotoshop, "City", "A longer city name than there was before").ok());
  auto size = static_cast<std::uint32_t>(original.size());
  Result<std::string> exact = packet.serialize({.exact_length = size});
  ASSERT_TRUE(exact.ok()) << exact.status.name();
  EXPECT_EQ(exact.value->size(), original.size());
  XmpPacket reparsed = MustParse(*exact.value);
  EXPECT_EQ(reparsed.get(kNsPhotoshop, "City").value, "A longer city name than there was before");
  EXPECT_EQ(reparsed.arrayItems(kNsDublinCore, "subject").value, packet.arrayItems(kNsDublinCore, "subject").value);

  EXPECT_EQ(packet.serialize({.omit_wrapper = true, .exact_length = size}).status.code(), xmp_error::kBadOptions);
  Result<std::string> padded = packet.serialize({.padding = 10});
  Result<std::string> unpadded = packet.serialize({.padding = 1});
  ASSERT_TRUE(padded.ok() && unpadded.ok());
  EXPECT_EQ(padded.value->size() - unpadded.value->size(), 9u);
}

TEST(XmpPacket, MergeReplacesWholePropertiesAndKeepsTheRest) {
  XmpPacket first;
  ASSERT_TRUE(first.set(kNsPhotoshop, "City", "Oslo").ok());
  ASSERT_TRUE(first.set(kNsDublinCore, "format", "text/plain").ok());
  ASSERT_TRUE(first.appendArrayItem(kNsDublinCore, "subject", ArrayForm::kBag, "old").ok());
  XmpPacket later = MustParse(PacketFromPhoto("BlueSquare.jpg"));
  ASSERT_TRUE(first.merge(later).ok());
  EXPECT_EQ(first.get(kNsPhotoshop, "City").value, "Oslo");
  EXPECT_EQ(first.get(kNsDublinCore, "format").value, "image/jpeg");
  EXPECT_EQ(first.arrayItems(kNsDublinCore, "subject").value, later.arrayItems(kNsDublinCore, "subject").value);
  EXPECT_EQ(first.getLocalizedText(kNsDublinCore, "title").value, "Blue Square Test File - .jpg");
  EXPECT_EQ(first.get("http://ns.adobe.com/xap/1.0/mm/", "DerivedFrom/stRef:documentID").value,
            later.get("http://ns.adobe.com/xap/1.0/mm/", "DerivedFrom/stRef:documentID").value);
  // Every node of the later tree is now in the merged one, with its value.
  PropertyIterator nodes(later);
  int compared = 0;
  for (Result<PropertyNode> n = nodes.next(); n.has_value(); n = nodes.next()) {
    if (n.value->isSchema() || n.value->isArray() || n.value->isStruct() || n.value->isQualifier()) continue;
    EXPECT_EQ(first.get(n.value->schema, n.value->path).value, n.value->value) << n.value->path;
    ++compared;
  }
  EXPECT_GT(compared, 20);
}

TEST(PropertyIterator, WalksAndSkips) {
  XmpPacket packet;
  ASSERT_TRUE(packet.appendArrayItem(kNsPhotoshop, "SupplementalCategories", ArrayForm::kBag, "one").ok());
  ASSERT_TRUE(packet.appendArrayItem(kNsPhotoshop, "SupplementalCategories", ArrayForm::kBag, "two").ok());
  ASSERT_TRUE(packet.set(kNsPhotoshop, "State", "Vest").ok());
  Strings all;
  PropertyIterator walk(packet, kNsPhotoshop);
  for (Result<PropertyNode> n = walk.next(); n.has_value(); n = walk.next()) all.push_back(n.value->path);
  EXPECT_EQ(all, (Strings{"", "photoshop:SupplementalCategories", "photoshop:SupplementalCategories[1]",
                          "photoshop:SupplementalCategories[2]", "photoshop:State"}));
  Strings top;
  PropertyIterator skipping(packet, kNsPhotoshop);
  for (Result<PropertyNode> n = skipping.next(); n.has_value(); n = skipping.next()) {
    if (n.value->isTopLevel()) top.push_back(n.value->path);
    if (n.value->isArray()) skipping.skipSubtree();
  }
  EXPECT_EQ(top, (Strings{"photoshop:SupplementalCategories", "photoshop:State"}));
  PropertyIterator bad(packet, "http://example.invalid/never-registered/");
  EXPECT_FALSE(bad.next().has_value());
}

TEST(XmpToolkit, NamespaceRegistry) {
  std::string prefix;
  ASSERT_TRUE(RegisterNamespace("http://example.invalid/test/1.0/", "tst", &prefix).ok());
  EXPECT_EQ(prefix, "tst");
  ASSERT_TRUE(RegisterNamespace("http://example.invalid/test/1.0/", "tst").ok());
  EXPECT_EQ(NamespacePrefix("http://example.invalid/test/1.0/").value, "tst");
  EXPECT_EQ(NamespaceUri("tst").value, "http://example.invalid/test/1.0/");
  EXPECT_FALSE(NamespacePrefix("http://example.invalid/unknown/").has_value());
  // The new schema is usable at once.
  XmpPacket packet;
  ASSERT_TRUE(packet.appendArrayItem("http://example.invalid/test/1.0/", "People", ArrayForm::kBag, "Ann").ok());
  EXPECT_NE(Serialized(packet).find("<tst:People>"), std::string::npos);
  EXPECT_EQ(RegisterNamespace("", "x").code(), xmp_error::kBadParam);
}

}  // namespace
}  // namespace norvo::xmp
