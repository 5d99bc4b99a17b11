// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/item_fields.h"

#include <array>
#include <fstream>
#include <sstream>

#include "catalog/true_names.h"
#include "metadata/annotation_block.h"
#include "metadata/metadata_fields.h"
#include "platform/dates.h"
#include "platform/byte_io.h"
#include "platform/text_encoding.h"

namespace norvo::metadata {
namespace {

constexpr std::uint32_t kSecondsPerDay = 86400;
constexpr FieldId kDateFinderField = 0xa1;
constexpr std::int64_t kDaysFrom1904To1970 = 24107;
// Where the file name sits in the fixed record (its only name field).
constexpr std::size_t kFileNameOffset = 0x000;

// The mount points of the system, read once: the volume of a path is the
// deepest of them that holds it.
const std::vector<std::string>& MountPoints() {
  static const std::vector<std::string> mounts = [] {
    std::vector<std::string> out;
    std::ifstream in("/proc/self/mounts");
    for (std::string line; std::getline(in, line);) {
      std::istringstream fields(line);
      std::string device, point;
      if (fields >> device >> point) out.push_back(point);
    }
    return out;
  }();
  return mounts;
}

std::string VolumeNameOf(const std::string& path) {
  std::string best = "/";
  for (const std::string& point : MountPoints()) {
    if (point.size() <= best.size()) continue;
    if (path.compare(0, point.size(), point) == 0 && (path.size() == point.size() || path[point.size()] == '/')) {
      best = point;
    }
  }
  if (best == "/") return best;
  return best.substr(best.rfind('/') + 1);
}

const catalog::Catalog::ItemTrueNames* TrueNamesOf(const catalog::Catalog& catalog, std::uint32_t item_id) {
  auto it = catalog.item_true_names.find(item_id);
  return it == catalog.item_true_names.end() ? nullptr : &it->second;
}

// A Pascal string kept in `width` bytes of the fixed record.
std::string StoredText(std::span<const std::uint8_t> field) {
  if (field.empty()) return {};
  std::size_t n = std::min<std::size_t>(field[0], field.size() - 1);
  return std::string(reinterpret_cast<const char*>(field.data() + 1), n);
}

}  // namespace

std::string ItemFileName(const catalog::Catalog& catalog, std::uint32_t item_id, const catalog::ItemRecord& record) {
  if (!record.true_file_name.empty()) return record.fileName();
  const auto* names = TrueNamesOf(catalog, item_id);
  return names ? catalog::NameFromField(record.file_name.text(), names->file_name)
               : Windows1252ToUtf8(record.file_name.text());
}

std::string ItemDisplayName(const catalog::Catalog& catalog, std::uint32_t item_id,
                            const catalog::ItemRecord& record) {
  if (!record.true_display_name.empty()) return record.displayName();
  const auto* names = TrueNamesOf(catalog, item_id);
  return names ? catalog::NameFromField(record.display_name.text(), names->display_name)
               : Windows1252ToUtf8(record.display_name.text());
}

std::string ValueText(const FieldValue& value, FieldId id) {
  const FieldDefinition* f = FindField(id);
  if (f == nullptr) return {};
  const ValueType type = FieldValueType(id);
  // Texts go out as they are: the formatter's 8-bit form would lose what
  // Windows-1252 cannot hold.
  if (type == ValueType::kText && f->display == Display::kText) {
    return value.utf8 ? value.text : Windows1252ToUtf8(value.text);
  }
  return Windows1252ToUtf8(FormatFieldValue(value, type, id, false));
}

CalendarDay CalendarDayOf(std::uint32_t date_time) {
  const CivilDate date = CivilFromDays(static_cast<std::int64_t>(date_time / kSecondsPerDay) - kDaysFrom1904To1970);
  return {static_cast<int>(date.year), date.month, date.day};
}

std::uint32_t DateTimeOfDay(const CalendarDay& day) {
  std::int64_t days = DaysFromCivil(day.year, day.month, day.day) + kDaysFrom1904To1970;
  if (days < 0 || days * kSecondsPerDay > 0xFFFFFFFFll) return 0;
  return static_cast<std::uint32_t>(days * kSecondsPerDay);
}

std::vector<std::string> CatalogSetsOf(const catalog::Catalog& catalog, std::uint32_t item_id) {
  std::vector<std::string> names;
  const catalog::GroupIndexes& indexes = catalog::GroupIndexesOf(catalog);
  auto sets = indexes.find(catalog::kCatalogSetSlot);
  if (sets == indexes.end()) return names;
  for (const catalog::GroupEntry& e : sets->second) {
    if (std::find(e.ids.begin(), e.ids.end(), item_id) != e.ids.end()) names.push_back(e.name);
  }
  return names;
}

ErrorCode ItemFields::read(const catalog::Catalog& catalog, int cell) {
  catalog_ = &catalog;
  cell_ = cell;
  metadata_.reset();
  fixed_.reset();
  borrowed_ = nullptr;
  return catalog::GetItemRecord(catalog, cell, catalog::kWithoutOptionalParts, owned_);
}

void ItemFields::assign(const catalog::Catalog& catalog, int cell, const catalog::ItemRecord& record) {
  catalog_ = &catalog;
  cell_ = cell;
  metadata_.reset();
  fixed_.reset();
  borrowed_ = &record;
}

std::string ItemFields::fileName() const {
  // Only a catalog that keeps true names needs the cell's ItemId.
  if (borrowed_ == nullptr || catalog_->item_true_names.empty()) return record().fileName();
  return ItemFileName(*catalog_, cell().item_id, record());
}

std::span<const std::uint8_t> ItemFields::fixedBytes() const {
  if (!fixed_) {
    fixed_.emplace();
    // The names were read as Windows-1252; the encoder keeps them so.
    catalog::EncodeFixedPart(record(), catalog::NameText::kAsStored, *fixed_);
  }
  return *fixed_;
}

const MetadataList& ItemFields::metadata() const {
  if (!metadata_) {
    metadata_.emplace();
    if (MetadataList::parse(record().metadata, &*metadata_) != err::kNone) metadata_->clear();
  }
  return *metadata_;
}

std::vector<FieldValue> ItemFields::values(FieldId id) const {
  const FieldDefinition* f = FindField(id);
  if (f == nullptr || catalog_ == nullptr) return {};
  const catalog::ItemRecord& r = record();
  auto one = [](FieldValue v) { return std::vector<FieldValue>{std::move(v)}; };
  auto text = [&one](std::string utf8) {
    return utf8.empty() ? std::vector<FieldValue>{} : one(FieldValue::Text(std::move(utf8), true));
  };
  switch (id) {
    case field_ids::kUniqueId: return one(FieldValue::Number(cell().item_id));
    case field_ids::kLabels:
      return cell().label() == 0 ? std::vector<FieldValue>{} : one(FieldValue::Number(cell().label()));
    case field_ids::kPath: {
      auto path = catalog::ItemPath(*catalog_, cell_);
      return path ? text(*path) : std::vector<FieldValue>{};
    }
    case field_ids::kVolumeName: {
      auto folder = catalog_->folders.folderOf(cell().item_id);
      return folder ? text(VolumeNameOf(*folder)) : std::vector<FieldValue>{};
    }
    case field_ids::kFileTypeName: {
      if (r.type_code == 0) return {};
      std::string code = FourCCToString(r.type_code);
      while (!code.empty() && code.back() == ' ') code.pop_back();
      return text(Windows1252ToUtf8(code));
    }
    case field_ids::kCatalogSets: {
      std::vector<FieldValue> out;
      for (std::string& name : CatalogSetsOf(*catalog_, cell().item_id)) {
        out.push_back(FieldValue::Text(std::move(name), true));
      }
      return out;
    }
    case field_ids::kItemUrl:
      return text(Windows1252ToUtf8(
          std::string(r.url.begin(), std::find(r.url.begin(), r.url.end(), std::uint8_t{0}))));
    case kDateFinderField: {
      std::uint32_t date = DateFinderDate(*this);
      return date == 0 ? std::vector<FieldValue>{} : one(FieldValue::Number(date));
    }
    case field_ids::kDimensions:
    case field_ids::kWidth:
      return one(FieldValue::Size(r.width, r.height, r.resolution));
    case field_ids::kHeight:
      return one(FieldValue::Size(r.height, r.height, r.resolution));
    default: break;
  }

  std::size_t offset = 0;
  std::size_t length = 0;
  if (FieldStorage(id, offset, length)) {
    // Records read in file order come without their true names.
    if (f->value_type == ValueType::kText && offset == kFileNameOffset) {
      return text(fileName());
    }
    auto field = fixedBytes().subspan(offset, length);
    ByteReader reader(field);
    switch (f->value_type) {
      case ValueType::kByte: return one(FieldValue::Number(reader.u8()));
      case ValueType::kInt16: return one(FieldValue::Number(reader.u16be()));
      case ValueType::kInt32: return one(FieldValue::Number(reader.u32be()));
      case ValueType::kRational: {
        std::int32_t n = reader.i32be();
        return one(FieldValue::Rational(n, reader.i32be()));
      }
      case ValueType::kText: return text(Windows1252ToUtf8(StoredText(field)));
      default: return {};
    }
  }

  if (f->source == FieldSource::kAnnotation) {
    std::vector<FieldValue> out;
    for (const AnnotationValue& v : GetAnnotations(id, r.annotations)) {
      if (f->value_type == ValueType::kText) {
        out.push_back(FieldValue::Text(v.utf8(), true));
      } else if (auto normal = NormaliseDateText(v.text())) {
        CalendarDay day{std::stoi(normal->substr(0, 4)), std::stoi(normal->substr(4, 2)), std::stoi(normal->substr(6, 2))};
        if (day.month == 0) day.month = 1;
        if (day.day == 0) day.day = 1;
        out.push_back(FieldValue::Number(DateTimeOfDay(day)));
      }
      if (f->style != FieldStyle::kList) break;
    }
    return out;
  }
  if (f->source == FieldSource::kMetadata) {
    FieldValue v;
    if (MetadataFieldValue(metadata(), id, &v)) return one(std::move(v));
  }
  return {};
}

bool ItemFields::value(FieldId id, FieldValue* out) const {
  auto all = values(id);
  if (all.empty()) return false;
  *out = std::move(all.front());
  return true;
}

std::vector<std::string> ItemFields::texts(FieldId id) const {
  std::vector<std::string> out;
  for (const FieldValue& v : values(id)) {
    std::string t = ValueText(v, id);
    if (!t.empty()) out.push_back(std::move(t));
  }
  return out;
}

std::string ItemFields::text(FieldId id) const {
  auto all = texts(id);
  return all.empty() ? std::string() : std::move(all.front());
}

std::uint32_t DateFinderDate(const ItemFields& item) {
  FieldValue capture;
  if (item.value(field_ids::kExifBase + 0x9003, &capture) && capture.number > 0) {
    return static_cast<std::uint32_t>(capture.number);
  }
  if (item.record().modified != 0) return item.record().modified;
  return item.record().created;
}

}  // namespace norvo::metadata
