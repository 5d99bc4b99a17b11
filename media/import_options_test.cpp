// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/import_options.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "catalog/catalog.h"
#include "catalog/save.h"
#include "media/test_support.h"
#include "platform/byte_io.h"

namespace norvo::media {
namespace {

using testing::FileAt;
using testing::TempDir;

TEST(ImportSettings, ANewCatalogTakesEveryClassButTextAndHtml) {
  TempDir dir;
  std::unique_ptr<catalog::Catalog> c;
  ASSERT_EQ(catalog::CreateCatalog(nullptr, FileAt(dir.path() + "/scratch"), {}, {}, c), err::kNone);
  const ImportSettings got = GetImportSettings(*c);
  for (int m = 0; m < kMediaClassCount; ++m) {
    const auto media_class = static_cast<MediaClass>(m);
    const bool excluded = media_class == MediaClass::Text || media_class == MediaClass::HTML;
    EXPECT_EQ(IsClassInMask(got.class_mask, media_class), !excluded) << m;
  }
  EXPECT_EQ(got.enabled_filters, 0u);
}

// A block whose every byte differs, so that a field at a wrong offset shows.
catalog::ImportOptions Patterned() {
  catalog::ImportOptions block;
  for (std::size_t i = 0; i < block.bytes.size(); ++i) block.bytes[i] = static_cast<std::uint8_t>(0xA0 + i);
  block.bytes[catalog::kImportNameTextOffset] = 3;
  return block;
}

TEST(ImportSettings, FieldsAtTheirOffsetsAndOtherBytesKept) {
  catalog::ImportOptions block = Patterned();
  ImportSettings s = ReadImportSettings(block);
  EXPECT_EQ(s.class_mask, 0xA4A5A6A7u);
  EXPECT_EQ(s.ignore_shortcuts, 0xAA);
  EXPECT_EQ(s.ignore_invisible, 0xAB);
  EXPECT_EQ(s.enabled_filters, 0xB0B1B2B3u);
  EXPECT_EQ(s.op(ImportFilter::kName), 0xB4);
  EXPECT_EQ(s.op(ImportFilter::kType), 0xB9);
  EXPECT_EQ(s.name_text.text(), "\xBD\xBE\xBF");
  EXPECT_EQ(s.created, 0xFCFDFEFFu);
  EXPECT_EQ(s.type, 0x0C0D0E0Fu);  // bytes 108-111 wrap past 0xFF

  s.class_mask = ClassMaskBit(MediaClass::Video);
  s.ignore_invisible = 1;
  s.enable(ImportFilter::kName, false);
  s.setOp(ImportFilter::kLevel, number_op::kGreaterOrEqual);
  s.name_text.set("ab");
  s.modified = 0x01020304;
  s.size_kb = 7;
  s.level = 3;
  s.type = FourCC("TIFF");
  catalog::ImportOptions written = Patterned();
  WriteImportSettings(s, written);
  const catalog::ImportOptions before = Patterned();
  for (std::size_t i : {0, 1, 2, 3, 8, 9, 12, 13, 14, 15, 26, 27, 112, 113, 114, 115}) {
    EXPECT_EQ(written.bytes[i], before.bytes[i]) << "byte " << i << " is not the table's";
  }
  EXPECT_EQ(written.number(4), 0x20000000u);  // Video: class 2, third bit from the top
  EXPECT_EQ(written.bytes[11], 1);
  EXPECT_EQ(written.number(16), 0x30B1B2B3u);  // the name filter is the top bit
  EXPECT_EQ(written.bytes[24], number_op::kGreaterOrEqual);
  EXPECT_EQ(written.bytes[28], 2);
  EXPECT_EQ(written.bytes[29], 'a');
  EXPECT_EQ(written.bytes[31], 0);  // the rest of the text field is cleared
  EXPECT_EQ(written.number(96), 0x01020304u);
  EXPECT_EQ(written.number(100), 7u);
  EXPECT_EQ(written.number(104), 3u);
  EXPECT_EQ(written.number(108), FourCC("TIFF"));
}

TEST(ImportSettings, TravelWithTheCatalogFile) {
  TempDir dir;
  std::unique_ptr<catalog::Catalog> c;
  ASSERT_EQ(catalog::CreateCatalog(nullptr, FileAt(dir.path() + "/scratch1"), {}, {}, c), err::kNone);
  ImportSettings s = GetImportSettings(*c);
  s.ignore_shortcuts = 1;
  s.enable(ImportFilter::kName, true);
  s.setOp(ImportFilter::kName, name_op::kEndsWith);
  s.name_text.set("caf\xE9");  // Windows-1252 in memory
  s.created = 0x12345678;
  s.type = FourCC("MP3 ");
  SetImportSettings(*c, s);
  EXPECT_TRUE(c->changed());
  c->import_options.bytes[113] = 0x5A;  // a byte nobody interprets
  FileSpec file = FileAt(dir.path() + "/options.nrk");
  ASSERT_EQ(catalog::SaveCatalog(*c, &file, {}), err::kNone);
  catalog::CloseCatalog(std::move(c), catalog::CloseSettings::kLeave);

  ASSERT_EQ(catalog::CreateCatalog(&file, FileAt(dir.path() + "/scratch2"), {}, {}, c), err::kNone);
  const ImportSettings got = GetImportSettings(*c);
  EXPECT_EQ(got.ignore_shortcuts, 1);
  EXPECT_TRUE(got.enabled(ImportFilter::kName));
  EXPECT_EQ(got.op(ImportFilter::kName), name_op::kEndsWith);
  EXPECT_EQ(got.name_text.text(), "caf\xE9");
  EXPECT_EQ(got.created, 0x12345678u);
  EXPECT_EQ(got.type, FourCC("MP3 "));
  EXPECT_EQ(c->import_options.bytes[113], 0x5A);
  // Setting equal options is no change.
  SetImportSettings(*c, got);
  EXPECT_FALSE(c->changed());
}

TEST(ImportDates, TextFormAndDayKey) {
  EXPECT_EQ(FormatImportDate(0), "1904-01-01T00:00:00");
  EXPECT_EQ(FormatImportDate(0xFFFFFFFF), "2040-02-06T06:28:15");
  EXPECT_EQ(FormatImportDate(366u * 86400 + 3661), "1905-01-01T01:01:01");  // 1904 is a leap year
  for (std::uint32_t v : {0u, 1u, 86399u, 0x7FFFFFFFu, 0xC0000000u, 0xFFFFFFFFu}) {
    EXPECT_EQ(ParseImportDate(FormatImportDate(v)), v) << v;
  }
  EXPECT_EQ(ParseImportDate("2024-02-29"), ParseImportDate("2024-02-29T00:00:00"));
  EXPECT_EQ(ParseImportDate("2024-02-29 12:00:00"), *ParseImportDate("2024-02-29") + 43200);
  for (const char* bad : {"", "2023-02-29", "2024-13-01", "2024-04-31", "2024-1-01", "1903-12-31", "2040-02-07",
                          "2024-01-01T24:00:00", "2024-01-01X00:00:00", "abcd-ef-gh"}) {
    EXPECT_FALSE(ParseImportDate(bad).has_value()) << bad;
  }
  EXPECT_EQ(ImportDayKey(*ParseImportDate("2021-03-04T23:59:59")), 2021 * 365 + 3 * 31 + 4);
}

TEST(ImportOptionsView, RoundTripThroughViewAndKeys) {
  ImportSettings s = ImportSettings::Defaults();
  s.class_mask = ClassMaskBit(MediaClass::Audio) | ClassMaskBit(MediaClass::HTML) | 0x00FF0000u;
  s.ignore_invisible = 1;
  s.enable(ImportFilter::kModified, true);
  s.setOp(ImportFilter::kModified, date_op::kAfter);
  s.modified = *ParseImportDate("2022-05-06T07:08:09");
  s.enable(ImportFilter::kType, true);
  s.setOp(ImportFilter::kType, type_op::kIsNot);
  s.type = FourCC("MP3 ");
  s.name_text.set("\xE9t\xE9");
  s.size_kb = 4096;
  s.level = 2;

  const ImportOptionsView view = ImportOptionsToView(s);
  EXPECT_EQ(view.class_mask, (std::vector<std::string>{"Audio", "HTML"}));
  EXPECT_EQ(view.modified.date, "2022-05-06T07:08:09");
  EXPECT_EQ(view.type.code, "MP3 ");
  EXPECT_EQ(view.name.text, "\xC3\xA9t\xC3\xA9");  // UTF-8 at the edge

  ImportSettings back = ImportSettings::Defaults();
  back.class_mask = 0x00FF0000u;  // the bits beyond the classes are not the view's
  ASSERT_EQ(ImportOptionsFromView(view, back), err::kNone);
  catalog::ImportOptions a, b;
  WriteImportSettings(s, a);
  WriteImportSettings(back, b);
  EXPECT_EQ(a.bytes, b.bytes);

  // Every key of the flat form sets what it came from.
  ImportOptionsView rebuilt;
  for (const auto& [key, value] : ImportOptionsToKeyValues(view)) {
    EXPECT_EQ(SetImportOptionsKey(rebuilt, key, value), err::kNone) << key << "=" << value;
  }
  EXPECT_EQ(ImportOptionsToKeyValues(rebuilt), ImportOptionsToKeyValues(view));

  ImportOptionsView none;
  ASSERT_EQ(SetImportOptionsKey(none, "class_mask", ""), err::kNone);
  EXPECT_TRUE(none.class_mask.empty());
}

TEST(ImportOptionsView, RefusesValuesTheBlockCannotHold) {
  const ImportSettings original = ImportSettings::Defaults();
  const ImportOptionsView good = ImportOptionsToView(original);
  auto refused = [&](auto change) {
    ImportOptionsView v = good;
    change(v);
    ImportSettings s = original;
    const bool refused = ImportOptionsFromView(v, s) == err::kParam;
    catalog::ImportOptions a, b;
    WriteImportSettings(s, a);
    WriteImportSettings(original, b);
    return refused && a.bytes == b.bytes;
  };
  EXPECT_TRUE(refused([](ImportOptionsView& v) { v.class_mask.push_back("Pictures"); }));
  EXPECT_TRUE(refused([](ImportOptionsView& v) { v.name.op = 8; }));
  EXPECT_TRUE(refused([](ImportOptionsView& v) { v.name.op = 0; }));
  EXPECT_TRUE(refused([](ImportOptionsView& v) { v.created.op = 4; }));
  EXPECT_TRUE(refused([](ImportOptionsView& v) { v.size.op = 6; }));
  EXPECT_TRUE(refused([](ImportOptionsView& v) { v.type.op = 3; }));
  EXPECT_TRUE(refused([](ImportOptionsView& v) { v.name.text = std::string(64, 'x'); }));
  EXPECT_TRUE(refused([](ImportOptionsView& v) { v.name.text = "\xE2\x82\xAC\xE4\xB8\x80"; }));  // no CJK in 1252
  EXPECT_TRUE(refused([](ImportOptionsView& v) { v.modified.date = "yesterday"; }));
  EXPECT_TRUE(refused([](ImportOptionsView& v) { v.type.code = "JPEGS"; }));
  // The limits themselves are accepted.
  EXPECT_FALSE(refused([](ImportOptionsView& v) {
    v.name.text = std::string(63, 'x');
    v.name.op = 7;
    v.level.op = 5;
    v.type.code = "GIF";
  }));

  ImportOptionsView v = good;
  for (const auto& [key, value] : std::initializer_list<std::pair<const char*, const char*>>{
           {"filters.name.op", "8"}, {"filters.size.kb", "-1"}, {"filters.size.kb", "4294967296"},
           {"filters.size.text", "x"}, {"filters.sizes.kb", "1"}, {"ignore_invisible", "yes"}, {"other", "1"},
           {"filters.level.enabled", ""}}) {
    EXPECT_EQ(SetImportOptionsKey(v, key, value), err::kParam) << key << "=" << value;
  }
  EXPECT_EQ(ImportOptionsToKeyValues(v), ImportOptionsToKeyValues(good));
}

}  // namespace
}  // namespace norvo::media
