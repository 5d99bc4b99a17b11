// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/xmp_mapping.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <optional>
#include <set>
#include <unordered_map>

#include "metadata/field_table.h"
#include "metadata/iptc_records.h"
#include "platform/byte_io.h"
#include "platform/text_encoding.h"
#include "xmp/xmp_iterator.h"
#include "xmp/xmp_packet.h"
#include "xmp/xmp_toolkit.h"

namespace norvo::metadata {
namespace {

using xmp::XmpPacket;
using K = XmpValueKind;

constexpr std::string_view kPs = xmp::kNsPhotoshop;
constexpr std::string_view kRights = xmp::kNsXmpRights;
constexpr std::string_view kXap = xmp::kNsXmpBasic;
constexpr std::string_view kIptc = xmp::kNsIptcCore;
constexpr std::string_view kOwn = kNsGalvorin;

// Applied in this order: for 0x25c the galvorin:Location read later replaces
// the IPTC Core one, and only the IPTC Core one is written. Entry 0x20a (the
// colour label) has no path: the label lives in the item's flags, not here.
constexpr std::array<XmpFieldMapping, 41> kXmpTable = {{
    {0x20a, K::kNone, K::kNone, kPs, ""},
    {0x20f, K::kText, K::kText, kPs, "Category"},
    {0x228, K::kText, K::kText, kPs, "Instructions"},
    {0x25a, K::kText, K::kText, kPs, "City"},
    {0x25f, K::kText, K::kText, kPs, "State"},
    {0x265, K::kText, K::kText, kPs, "Country"},
    {0x267, K::kText, K::kText, kPs, "TransmissionReference"},
    {0x269, K::kText, K::kText, kPs, "Headline"},
    {0x26e, K::kText, K::kText, kPs, "Credit"},
    {0x273, K::kText, K::kText, kPs, "Source"},
    {0x27a, K::kText, K::kText, kPs, "CaptionWriter"},
    {0x255, K::kText, K::kText, kPs, "AuthorsPosition"},
    {0x237, K::kDate, K::kDate, kPs, "DateCreated"},
    {0x214, K::kBag, K::kBag, kPs, "SupplementalCategories"},
    {0x250, K::kText, K::kText, kPs, "Author"},
    {0x219, K::kBag, K::kBag, kPs, "Keywords"},
    {0x278, K::kText, K::kText, kPs, "Caption"},
    {0x205, K::kText, K::kText, kPs, "Title"},
    {0x274, K::kText, K::kText, kPs, "Copyright"},
    {0x2e3, K::kText, K::kText, kPs, "WebStatement"},
    {0x2e2, K::kText, K::kText, kRights, "UsageTerms/*[@xml:lang='x-default']"},
    {0x2f2, K::kText, K::kText, kXap, "Rating"},
    {0x25c, K::kText, K::kText, kIptc, "Location"},
    {0x226, K::kText, K::kText, kIptc, "CountryCode"},
    {0x2e1, K::kText, K::kText, kIptc, "IntellectualGenre"},
    {0x2d0, K::kText, K::kText, kIptc, "CreatorContactInfo/CiAdrExtadr"},
    {0x2d1, K::kText, K::kText, kIptc, "CreatorContactInfo/CiAdrCity"},
    {0x2d2, K::kText, K::kText, kIptc, "CreatorContactInfo/CiAdrRegion"},
    {0x2d3, K::kText, K::kText, kIptc, "CreatorContactInfo/CiAdrPcode"},
    {0x2d4, K::kText, K::kText, kIptc, "CreatorContactInfo/CiAdrCtry"},
    {0x2d5, K::kText, K::kText, kIptc, "CreatorContactInfo/CiTelWork"},
    {0x2d6, K::kText, K::kText, kIptc, "CreatorContactInfo/CiEmailWork"},
    {0x2d7, K::kText, K::kText, kIptc, "CreatorContactInfo/CiUrlWork"},
    {0x20c, K::kBag, K::kBag, kIptc, "SubjectCode"},
    {0x2e0, K::kBag, K::kBag, kIptc, "Scene"},
    {0x207, K::kText, K::kText, kOwn, "Status"},
    {0x216, K::kText, K::kText, kOwn, "Event"},
    {0x25c, K::kText, K::kNone, kOwn, "Location"},
    {0x276, K::kBag, K::kBag, kOwn, "People"},
    {0x2fe, K::kBag, K::kBag, kOwn, "UserFields"},
    {0x2ff, K::kBag, K::kBag, kOwn, "CatalogSets"},
}};

constexpr std::array<MetadataTextMapping, 20> kTextTable = {{
    {FourCC("\xA9" "ART"), 0x250, false, false},
    {FourCC("\xA9" "aut"), 0x250, false, true},
    {FourCC("\xA9" "dir"), 0x250, false, false},
    {FourCC("\xA9" "inf"), 0x269, false, false},
    {FourCC("\xA9" "nam"), 0x269, false, true},
    {FourCC("\xA9" "alb"), 0x205, false, false},
    {FourCC("\xA9" "PRD"), 0x205, false, true},
    {FourCC("\xA9" "cmt"), 0x278, false, true},
    {FourCC("\xA9" "dis"), 0x207, false, true},
    {FourCC("\xA9" "gen"), 0x2e1, false, true},
    {FourCC("\xA9" "des"), 0x216, false, true},
    {FourCC("\xA9" "prd"), 0x26e, false, true},
    {FourCC("\xA9" "src"), 0x273, false, true},
    {FourCC("\xA9" "cpy"), 0x274, false, true},
    {FourCC("\xA9" "wrt"), 0x27a, false, true},
    {FourCC("\xA9" "req"), 0x228, false, true},
    {FourCC("\xA9" "prf"), 0x276, true, true},
    {FourCC("\xA9" "key"), 0x219, true, true},
    {FourCC("\xA9" "url"), 0x2e3, false, true},
    {FourCC("\xA9" "wrn"), 0x2e2, false, true},
}};

constexpr FieldId kCaptionField = 0x278;
constexpr std::size_t kDateDigits = 8;

bool EnsureOwnNamespace() {
  static const bool registered = xmp::RegisterNamespace(kNsGalvorin, kGalvorinPrefix).ok();
  return registered;
}

std::span<const std::uint8_t> AsBytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

BlockText FromXmpText(std::string_view utf8) { return BlockTextFromUtf8(utf8); }

// A field's values as UTF-8, each text with the index (from 1) of its first
// entry, so that the items of a bag are looked up without walking the block
// once per item.
class FieldValueIndex {
 public:
  FieldValueIndex(FieldId id, std::span<const std::uint8_t> block) {
    for (const AnnotationValue& v : GetAnnotations(id, block)) add(v.utf8());
  }

  int find(const std::string& utf8) const {
    auto it = first_.find(utf8);
    return it == first_.end() ? 0 : it->second;
  }
  void add(const std::string& utf8) {
    values_.push_back(utf8);
    first_.emplace(utf8, static_cast<int>(values_.size()));
  }
  void replace(int index, const std::string& utf8) {
    std::string& old = values_[static_cast<std::size_t>(index) - 1];
    if (auto it = first_.find(old); it != first_.end() && it->second == index) {
      // The old text's first entry is now a later one, if any.
      first_.erase(it);
      for (std::size_t i = static_cast<std::size_t>(index); i < values_.size(); ++i) {
        if (values_[i] == old) {
          first_.emplace(old, static_cast<int>(i) + 1);
          break;
        }
      }
    }
    old = utf8;
    auto [it, added] = first_.emplace(utf8, index);
    if (!added && it->second > index) it->second = index;
  }

 private:
  std::vector<std::string> values_;
  std::unordered_map<std::string, int> first_;
};

// Appends the bag's items that the field does not hold yet. The IPTC
// records keep a long value cut to the field's limit; an item whose cut
// form the field holds is that value whole and takes the cut one's place.
void ReadBagItems(FieldId id, std::span<const std::string> items, AnnotationBlock& block) {
  FieldValueIndex index(id, block);
  const int limit = FieldMaxLength(id);
  for (const std::string& item : items) {
    const std::string utf8 = LenientUtf8(item);
    BlockText t = FromXmpText(utf8);
    if (t.bytes.empty() || index.find(utf8) != 0) continue;
    int cut = 0;
    if (limit > 0) {
      for (const std::string& form : IimCutForms(utf8, limit)) {
        if ((cut = index.find(form)) != 0) break;
      }
    }
    if (cut != 0) {
      SetAnnotation(id, cut, AsBytes(t.bytes), block, SetMode::kReplace, t.marker);
      index.replace(cut, utf8);
    } else {
      SetAnnotation(id, 0, AsBytes(t.bytes), block, SetMode::kAppend, t.marker);
      index.add(utf8);
    }
  }
}

void ReadEntry(const XmpFieldMapping& m, const XmpPacket& packet, AnnotationBlock& block) {
  switch (m.reader) {
    case K::kNone:
      return;
    case K::kText: {
      xmp::Result<std::string> value = packet.get(m.ns, m.path);
      if (!value.has_value()) return;
      BlockText t = FromXmpText(*value.value);
      SetAnnotation(m.id, 1, AsBytes(t.bytes), block, SetMode::kReplace, t.marker);
      return;
    }
    case K::kDate: {
      xmp::Result<xmp::DateTime> date = packet.getDate(m.ns, m.path);
      if (!date.has_value() || date.value->year <= 0 || date.value->year > 9999) return;
      char text[16];
      std::snprintf(text, sizeof text, "%04d%02d%02d", date.value->year, date.value->month % 100,
                    date.value->day % 100);
      SetAnnotationText(m.id, 1, text, block, SetMode::kReplace);
      return;
    }
    case K::kBag: {
      xmp::Result<std::vector<std::string>> items = packet.arrayItems(m.ns, m.path);
      if (items.has_value()) ReadBagItems(m.id, *items.value, block);
      return;
    }
  }
}

std::string DigitsOf(std::string_view text) {
  std::string digits;
  for (char c : text) {
    if (std::isdigit(static_cast<unsigned char>(c)) != 0) digits.push_back(c);
  }
  return digits;
}

xmp::Status WriteEntry(const XmpFieldMapping& m, std::span<const std::uint8_t> block, XmpPacket& packet) {
  switch (m.writer) {
    case K::kNone:
      return {};
    case K::kText: {
      std::optional<AnnotationValue> v = GetAnnotation(m.id, 1, block);
      std::string utf8 = v ? v->utf8() : std::string();
      return utf8.empty() ? packet.remove(m.ns, m.path) : packet.set(m.ns, m.path, utf8);
    }
    case K::kDate: {
      std::optional<AnnotationValue> v = GetAnnotation(m.id, 1, block);
      std::string text = v ? v->utf8() : std::string();
      std::string digits = DigitsOf(text);
      if (text.size() < kDateDigits || digits.size() < kDateDigits) return packet.remove(m.ns, m.path);
      xmp::DateTime date{};
      date.year = std::stoi(digits.substr(0, 4));
      date.month = std::stoi(digits.substr(4, 2));
      date.day = std::stoi(digits.substr(6, 2));
      return packet.setDate(m.ns, m.path, date);
    }
    case K::kBag: {
      if (xmp::Status s = packet.remove(m.ns, m.path); !s.ok()) return s;
      for (const AnnotationValue& v : GetAnnotations(m.id, block)) {
        std::string utf8 = v.utf8();
        if (utf8.empty()) continue;
        if (xmp::Status s = packet.appendArrayItem(m.ns, m.path, xmp::ArrayForm::kBag, utf8); !s.ok()) return s;
      }
      return {};
    }
  }
  return {};
}

bool Matches(std::span<const std::uint8_t> bytes, std::size_t at, std::string_view text) {
  if (at > bytes.size() || bytes.size() - at < text.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (bytes[at + i] != static_cast<std::uint8_t>(text[i])) return false;
  }
  return true;
}

// Top-level arrays without items, as "namespace|prefixed path".
std::set<std::string> EmptyArrays(const XmpPacket& tree) {
  std::set<std::string> empty;
  xmp::PropertyIterator nodes(tree);
  for (xmp::Result<xmp::PropertyNode> n = nodes.next(); n.has_value(); n = nodes.next()) {
    if (!n.value->isTopLevel() || !n.value->isArray()) continue;
    xmp::Result<std::vector<std::string>> items = tree.arrayItems(n.value->schema, n.value->path);
    if (items.has_value() && items.value->empty()) empty.insert(n.value->schema + "|" + n.value->path);
  }
  return empty;
}

bool IsXmlSpace(std::uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::span<const XmpFieldMapping> XmpFieldTable() { return kXmpTable; }
std::span<const MetadataTextMapping> MetadataTextTable() { return kTextTable; }

FieldId FieldForMetadataText(std::uint32_t code) {
  for (const MetadataTextMapping& m : kTextTable) {
    if (m.code == code) return m.id;
  }
  return 0;
}

ErrorCode ReadXmpIntoAnnotations(std::span<const std::string_view> packets, AnnotationBlock& block) {
  if (packets.empty()) return err::kNone;
  EnsureOwnNamespace();
  std::optional<XmpPacket> tree;
  for (std::string_view text : packets) {
    xmp::Result<XmpPacket> parsed = XmpPacket::Parse(text);
    if (!parsed.has_value()) continue;
    if (!tree) {
      tree = std::move(*parsed.value);
    } else {
      tree->merge(*parsed.value);
    }
  }
  if (!tree) return err::kXmpUnreadable;
  for (const XmpFieldMapping& m : kXmpTable) ReadEntry(m, *tree, block);
  return err::kNone;
}

namespace {

// Parses `packet` and applies the block to the tree, as both rewrites do.
ErrorCode UpdatedTree(std::span<const std::uint8_t> packet, std::span<const std::uint8_t> block,
                      std::optional<XmpPacket>* tree, std::string* failure) {
  auto fail = [failure](ErrorCode code, std::string_view text) {
    if (failure != nullptr) *failure = std::string(text);
    return code;
  };
  if (packet.empty()) return fail(err::kParam, kBadPacketText);
  EnsureOwnNamespace();
  std::string_view old_text(reinterpret_cast<const char*>(packet.data()), packet.size());
  xmp::Result<XmpPacket> parsed = XmpPacket::Parse(old_text);
  if (!parsed.has_value()) return fail(err::kXmpUnreadable, parsed.status.text());
  XmpPacket& t = *parsed.value;
  const std::set<std::string> empty_before = EmptyArrays(t);
  for (const XmpFieldMapping& m : kXmpTable) {
    if (xmp::Status s = WriteEntry(m, block, t); !s.ok()) return fail(err::kParam, s.text());
  }
  // Removing an alias such as photoshop:Caption takes out the default item of
  // the array behind it; an array left without items goes as well.
  for (const std::string& key : EmptyArrays(t)) {
    if (empty_before.contains(key)) continue;
    std::size_t bar = key.find('|');
    t.remove(key.substr(0, bar), key.substr(bar + 1));
  }
  tree->emplace(std::move(t));
  return err::kNone;
}

}  // namespace

ErrorCode WriteAnnotationsIntoXmp(std::span<std::uint8_t> packet, std::span<const std::uint8_t> block,
                                  std::string* failure) {
  std::optional<XmpPacket> tree;
  if (ErrorCode e = UpdatedTree(packet, block, &tree, failure); e != err::kNone) return e;
  xmp::Result<std::string> text = tree->serialize({.exact_length = static_cast<std::uint32_t>(packet.size())});
  if (!text.has_value()) {
    if (failure != nullptr) *failure = text.status.text();
    return err::kXmpPacketTooSmall;
  }
  std::copy(text.value->begin(), text.value->end(), packet.begin());
  BlankEmptyListItems(packet);
  return err::kNone;
}

ErrorCode RewriteXmpWithPadding(std::span<const std::uint8_t> packet, std::span<const std::uint8_t> block,
                                std::uint32_t padding, std::vector<std::uint8_t>* out, std::string* failure) {
  std::optional<XmpPacket> tree;
  if (ErrorCode e = UpdatedTree(packet, block, &tree, failure); e != err::kNone) return e;
  xmp::Result<std::string> text = tree->serialize({.padding = padding});
  if (!text.has_value()) {
    if (failure != nullptr) *failure = text.status.text();
    return err::kParam;
  }
  out->assign(text.value->begin(), text.value->end());
  BlankEmptyListItems(*out);
  return err::kNone;
}

int BlankEmptyListItems(std::span<std::uint8_t> packet) {
  static constexpr std::string_view kEmptyForms[] = {"<rdf:li/>", "<rdf:li></rdf:li>"};
  static constexpr std::string_view kItem = "<rdf:li>";
  int count = 0;
  for (std::size_t at = 0; at < packet.size(); ++at) {
    if (packet[at] != '<') continue;
    for (std::string_view empty : kEmptyForms) {
      if (!Matches(packet, at, empty)) continue;
      std::size_t next = at + empty.size();
      while (next < packet.size() && IsXmlSpace(packet[next])) ++next;
      if (!Matches(packet, next, kItem)) continue;
      std::fill_n(packet.begin() + static_cast<std::ptrdiff_t>(at), empty.size(), std::uint8_t{' '});
      at = next - 1;
      ++count;
      break;
    }
  }
  return count;
}

AnnotationBlock MergeFileMetadata(const FileMetadata& file) {
  AnnotationBlock block = IptcRecordsToAnnotations(file.iptc);
  for (const MetadataText& item : file.texts) {
    FieldId id = FieldForMetadataText(item.code);
    if (id == 0) continue;
    bool list = false;
    for (const MetadataTextMapping& m : kTextTable) {
      if (m.code == item.code) list = m.list;
    }
    if (list) {
      for (const std::string& value : SplitListText(item.text)) {
        BlockText t = BlockTextFromUtf8(value);
        SetAnnotationText(id, 0, t.bytes, block, SetMode::kAppend, t.marker);
      }
      continue;
    }
    std::string cleaned = CleanAnnotationText(item.text, id == kCaptionField);
    if (id == kEventDateField) {
      std::optional<std::string> date = NormaliseDateText(cleaned);
      if (!date) continue;
      cleaned = *date;
    }
    BlockText t = BlockTextFromUtf8(cleaned);
    SetAnnotationText(id, 1, t.bytes, block, SetMode::kAddIfMissing, t.marker);
  }
  // Packets that cannot be parsed leave the IIM and EXIF texts as they are:
  // the file's other metadata still counts.
  (void)ReadXmpIntoAnnotations(file.xmp, block);
  return block;
}

std::vector<MetadataText> AnnotationsToMetadataTexts(std::span<const std::uint8_t> block) {
  std::vector<MetadataText> texts;
  for (const MetadataTextMapping& m : kTextTable) {
    if (!m.written) continue;
    std::vector<AnnotationValue> values = GetAnnotations(m.id, block);
    if (values.empty()) continue;
    std::string text;
    if (m.list) {
      std::vector<std::string> parts;
      for (const AnnotationValue& v : values) parts.push_back(v.utf8());
      text = JoinListValues(parts);
    } else {
      text = values.front().utf8();
    }
    if (!text.empty()) texts.push_back({m.code, std::move(text)});
  }
  return texts;
}

}  // namespace norvo::metadata
