// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/delimited_text.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "metadata/catalog_fixture_test_support.h"
#include "metadata/custom_fields.h"
#include "platform/fault_injection.h"

namespace norvo::output {
namespace {

namespace fs = std::filesystem;
namespace field_ids = metadata::field_ids;
using metadata::FieldId;
using metadata::testing::ItemSpec;

constexpr FieldId kKeywords = 0x219;
constexpr FieldId kCaption = field_ids::kCaption;
constexpr FieldId kCity = 0x25a;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The rows of a table, each without its CR LF; a row missing its CR LF
// fails the test.
std::vector<std::string> Rows(const std::string& text) {
  std::vector<std::string> rows;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find("\r\n", at);
    EXPECT_NE(end, std::string::npos) << "a row without CR LF: " << text.substr(at);
    if (end == std::string::npos) break;
    rows.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return rows;
}

std::vector<std::string> Split(const std::string& row, char separator) {
  std::vector<std::string> cells;
  std::size_t at = 0;
  for (;;) {
    std::size_t end = row.find(separator, at);
    cells.push_back(row.substr(at, end == std::string::npos ? std::string::npos : end - at));
    if (end == std::string::npos) return cells;
    at = end + 1;
  }
}

TextTableOptions Options(TextFormat format, std::vector<FieldId> fields, bool label_row = false,
                         std::string delimiter = ",") {
  TextTableOptions o;
  o.format = format;
  o.fields = std::move(fields);
  o.label_row = label_row;
  o.delimiter = std::move(delimiter);
  return o;
}

TEST(DelimitedCells, EachStyleSeparatesQuotesAndCleansAsItShould) {
  struct Case {
    const char* name;
    CellStyle style;
    bool first;
    std::string text;
    std::string delimiter;
    std::string want;
  };
  const Case cases[] = {
      {"tab: first cell bare", CellStyle::kTab, true, "a b", ";", "a b"},
      {"tab: TAB before later cells, never quoted", CellStyle::kTab, false, "say \"x\"", ";", "\tsay 'x'"},
      {"tab: line breaks and tabs become spaces", CellStyle::kTab, false, "a\r\nb\tc", ";", "\ta  b c"},
      {"comma: first cell quoted without separator", CellStyle::kComma, true, "x", ";", "\"x\""},
      {"comma: comma whatever the delimiter", CellStyle::kComma, false, "x,y", ";", ",\"x,y\""},
      {"merge: the delimiter, quoted", CellStyle::kMerge, false, "x", " | ", " | \"x\""},
      {"merge: an empty delimiter joins cells directly", CellStyle::kMerge, false, "x", "", "\"x\""},
      {"label: delimiter, no quotes, spaces to underscores", CellStyle::kLabel, false, "File Name", ";",
       ";File_Name"},
      {"label: line breaks end up as underscores too", CellStyle::kLabel, true, "a\nb \"c\"", ";", "a_b_'c'"},
      {"other bytes stay as they are", CellStyle::kTab, true, "caf\xc3\xa9 \\ '", ";", "caf\xc3\xa9 \\ '"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string row = "<";
    AppendCell(row, c.style, c.first, c.text, c.delimiter);
    EXPECT_EQ(row, "<" + c.want);
  }
}

class DelimitedTextTest : public metadata::testing::CatalogFixture {
 protected:
  void SetUp() override {
    CatalogFixture::SetUp();
    // Claims on temporary files go to the test's own folder.
    if (const char* data = std::getenv("XDG_DATA_HOME")) saved_data_home_ = data;
    ::setenv("XDG_DATA_HOME", Path("data").c_str(), 1);
    faults::Reset();
  }
  void TearDown() override {
    faults::Reset();
    if (saved_data_home_) {
      ::setenv("XDG_DATA_HOME", saved_data_home_->c_str(), 1);
    } else {
      ::unsetenv("XDG_DATA_HOME");
    }
    CatalogFixture::TearDown();
  }

  std::string Table(const catalog::Catalog& c, const TextTableOptions& options) {
    std::string text;
    EXPECT_EQ(TextTableText(c, AllCells(c), options, &text), err::kNone);
    return text;
  }
  // The names in the test folder other than the catalogs' scratch files
  // and the claims folder: what a writer left behind.
  std::vector<std::string> LeftInFolder() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) {
      std::string name = e.path().filename().string();
      if (name.starts_with("scratch") || name == "data") continue;
      names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::optional<std::string> saved_data_home_;
};

TEST_F(DelimitedTextTest, EachFormatQuotesLabelsAndMarksMissingValuesItsOwnWay) {
  catalog::Catalog& c = Open();
  ASSERT_EQ(metadata::AddCustomField(c, "Shot by"), err::kNone);
  Add(c, ItemSpec("a.jpg", {{kCaption, "She said \"hi\"\nthen; left"}, {field_ids::kFirstCustom, "Ann Lee"}}));
  Add(c, ItemSpec("b.jpg"));
  const FieldId kName = field_ids::kFileName;
  // Source-URL is the composite label; the unique id has no label at all.
  const std::vector<FieldId> labelled = {kName, field_ids::kItemUrl, field_ids::kUniqueId};
  const std::vector<FieldId> gaps = {kCaption, field_ids::kLabels, field_ids::kFileSize};
  struct Case {
    const char* name;
    TextTableOptions options;
    std::string want;
  };
  const Case cases[] = {
      {"comma quotes every cell and cleans quotes and line breaks", Options(TextFormat::kComma, {kName, kCaption}),
       "\"a.jpg\",\"She said 'hi' then; left\"\r\n\"b.jpg\",\"-\"\r\n"},
      {"merge always writes labels, in label style, joined by the delimiter",
       Options(TextFormat::kMerge, {kName, kCaption, field_ids::kFirstCustom}, false, ";"),
       "File_Name;Caption;Shot_by\r\n\"a.jpg\";\"She said 'hi' then; left\";\"Ann Lee\"\r\n\"b.jpg\";\"-\";\"-\"\r\n"},
      {"tab labels when asked", Options(TextFormat::kTab, labelled, true),
       "File Name\tSource-URL\t-\r\na.jpg\t-\t1\r\nb.jpg\t-\t2\r\n"},
      {"comma labels when asked", Options(TextFormat::kComma, labelled, true),
       "\"File Name\",\"Source-URL\",\"-\"\r\n\"a.jpg\",\"-\",\"1\"\r\n\"b.jpg\",\"-\",\"2\"\r\n"},
      {"no label row unless asked", Options(TextFormat::kTab, labelled), "a.jpg\t-\t1\r\nb.jpg\t-\t2\r\n"},
      {"missing values bare in tab", Options(TextFormat::kTab, gaps), "She said 'hi' then; left\t-\t-\r\n-\t-\t-\r\n"},
      {"missing values quoted in comma", Options(TextFormat::kComma, gaps),
       "\"She said 'hi' then; left\",\"-\",\"-\"\r\n\"-\",\"-\",\"-\"\r\n"},
      {"missing values quoted in merge", Options(TextFormat::kMerge, gaps, false, "|"),
       "Caption|Labels|File_Size\r\n\"She said 'hi' then; left\"|\"-\"|\"-\"\r\n\"-\"|\"-\"|\"-\"\r\n"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    EXPECT_EQ(Table(c, k.options), k.want);
  }
}

TEST_F(DelimitedTextTest, TabRowsHaveOneCellPerFieldWhateverTheValuesHold) {
  catalog::Catalog& c = Open();
  Add(c, ItemSpec("tab\there.jpg", {{kCaption, "one\ttwo\r\nthree"}, {kCity, "\t"}}));
  Add(c, ItemSpec("plain.jpg", {{kCaption, "\"quoted\""}}));
  const std::vector<FieldId> fields = {field_ids::kFileName, kCaption, kCity, kKeywords};
  const std::vector<std::string> rows = Rows(Table(c, Options(TextFormat::kTab, fields)));
  ASSERT_EQ(rows.size(), 2u);
  for (const std::string& row : rows) {
    SCOPED_TRACE(row);
    EXPECT_EQ(Split(row, '\t').size(), fields.size());
    EXPECT_EQ(row.find('"'), std::string::npos);
  }
  EXPECT_EQ(Split(rows[0], '\t')[1], "one two  three");
  EXPECT_EQ(Split(rows[1], '\t')[1], "'quoted'");
}

TEST_F(DelimitedTextTest, ListFieldsShowEveryValueAndRowsFollowTheCellsGiven) {
  catalog::Catalog& c = Open();
  Add(c, ItemSpec("a.jpg", {{kKeywords, "sea"}, {kKeywords, "sun"}, {kKeywords, "sand"}}));
  Add(c, ItemSpec("b.jpg", {{kKeywords, "rain"}}));
  ASSERT_EQ(metadata::SetColourLabel(c, 2, 4), err::kNone);
  const std::vector<int> cells = {2, 1, 2};
  std::string text;
  ASSERT_EQ(TextTableText(c, cells, Options(TextFormat::kTab, {field_ids::kFileName, kKeywords, field_ids::kLabels}),
                          &text),
            err::kNone);
  EXPECT_EQ(text, "b.jpg\train\t4\r\na.jpg\tsea, sun, sand\t-\r\nb.jpg\train\t4\r\n");
}

TEST_F(DelimitedTextTest, Utf8KeepsNamesWhile8BitWritesWindows1252WithQuestionMarks) {
  catalog::Catalog& c = Open();
  const std::string names[] = {"caf\xc3\xa9.jpg", "\xce\x91\xce\xb8\xce\xae\xce\xbd\xce\xb1.jpg",
                               "5\xe2\x82\xac_\xce\xb2.jpg"};
  for (const std::string& n : names) Add(c, ItemSpec(n));
  TextTableOptions options = Options(TextFormat::kComma, {field_ids::kFileName});
  EXPECT_EQ(Table(c, options), "\"" + names[0] + "\"\r\n\"" + names[1] + "\"\r\n\"" + names[2] + "\"\r\n");
  options.encoding = TextEncoding::kWindows1252;
  // é is 0xE9 and € 0x80 in Windows-1252; Greek letters have no byte there.
  EXPECT_EQ(Table(c, options), "\"caf\xe9.jpg\"\r\n\"?????.jpg\"\r\n\"5\x80_?.jpg\"\r\n");
  // Labels and the delimiter are encoded as well.
  options.format = TextFormat::kMerge;
  options.delimiter = "\xc2\xa7";  // §
  options.fields = {field_ids::kFileName, field_ids::kFileName};
  EXPECT_EQ(Rows(Table(c, options))[0], "File_Name\xa7" "File_Name");
}

TEST_F(DelimitedTextTest, WritesTheFileAndReportsProgressPerItem) {
  catalog::Catalog& c = Open();
  for (int i = 0; i < 3; ++i) Add(c, ItemSpec("p" + std::to_string(i) + ".jpg"));
  const TextTableOptions options = Options(TextFormat::kTab, {field_ids::kFileName}, true);
  std::vector<std::pair<ProgressPhase, int>> heard;
  auto progress = [&heard](ProgressPhase phase, int done, int) {
    heard.emplace_back(phase, done);
    return 0;
  };
  // An old file of that name is replaced.
  std::ofstream(Path("out.txt")) << "old contents that are longer than the table";
  ASSERT_EQ(WriteTextTable(c, AllCells(c), options, Path("out.txt"), progress), err::kNone);
  EXPECT_EQ(ReadFile(Path("out.txt")), "File Name\r\np0.jpg\r\np1.jpg\r\np2.jpg\r\n");
  EXPECT_EQ(heard, (std::vector<std::pair<ProgressPhase, int>>{{ProgressPhase::kStart, 0},
                                                               {ProgressPhase::kStep, 1},
                                                               {ProgressPhase::kStep, 2},
                                                               {ProgressPhase::kStep, 3},
                                                               {ProgressPhase::kEnd, 0}}));
  EXPECT_EQ(LeftInFolder(), (std::vector<std::string>{"out.txt"}));

  // Through a symbolic link the file it names is written; the link stays.
  fs::create_directory(Path("real"));
  fs::create_symlink(Path("real/table.txt"), Path("link.txt"));
  ASSERT_EQ(WriteTextTable(c, std::vector<int>{3}, options, Path("link.txt")), err::kNone);
  EXPECT_TRUE(fs::is_symlink(Path("link.txt")));
  EXPECT_EQ(ReadFile(Path("real/table.txt")), "File Name\r\np2.jpg\r\n");
  // A loop of links is refused rather than followed for ever.
  fs::create_symlink(Path("loop-b"), Path("loop-a"));
  fs::create_symlink(Path("loop-a"), Path("loop-b"));
  EXPECT_EQ(WriteTextTable(c, std::vector<int>{3}, options, Path("loop-a")), err::kBadName);
  EXPECT_TRUE(fs::is_symlink(Path("loop-a")));
}

TEST_F(DelimitedTextTest, NoFieldsWritesNothingAtAll) {
  catalog::Catalog& c = Open();
  Add(c, ItemSpec("a.jpg"));
  const TextTableOptions options = Options(TextFormat::kMerge, {}, true, ";");
  EXPECT_EQ(WriteTextTable(c, AllCells(c), options, Path("none.txt")), err::kNone);
  EXPECT_FALSE(fs::exists(Path("none.txt")));
  std::string text = "stale";
  EXPECT_EQ(TextTableText(c, AllCells(c), options, &text), err::kNone);
  EXPECT_EQ(text, "");
  EXPECT_TRUE(LeftInFolder().empty());
}

// A write that fails at any point, a cancel, or a folder that cannot be
// written leaves neither a partial table nor a temporary file, and an old
// file of the same name as it was.
TEST_F(DelimitedTextTest, AFailedWriteLeavesNoPartialFile) {
  catalog::Catalog& c = Open();
  // Long captions: the table takes several writes.
  const std::string caption(1900, 'c');
  for (int i = 0; i < 120; ++i) Add(c, ItemSpec("item" + std::to_string(i) + ".jpg", {{kCaption, caption}}));
  const TextTableOptions options = Options(TextFormat::kComma, {field_ids::kFileName, kCaption}, true);
  std::string expected;
  ASSERT_EQ(TextTableText(c, AllCells(c), options, &expected), err::kNone);

  faults::Reset();
  ASSERT_EQ(WriteTextTable(c, AllCells(c), options, Path("full.csv")), err::kNone);
  EXPECT_EQ(ReadFile(Path("full.csv")), expected);
  const std::uint64_t writes = faults::WriteCount();
  ASSERT_GE(writes, 4u);  // three pieces of rows and the rename
  fs::remove(Path("full.csv"));

  std::ofstream(Path("kept.csv")) << "kept";
  for (std::uint64_t n = 1; n <= writes; ++n) {
    SCOPED_TRACE("failing write " + std::to_string(n));
    faults::Reset();
    faults::FailNthWrite(n, err::kDiskFull);
    EXPECT_EQ(WriteTextTable(c, AllCells(c), options, Path("out.csv")), err::kDiskFull);
    faults::FailNthWrite(n, err::kIo);
    EXPECT_EQ(WriteTextTable(c, AllCells(c), options, Path("kept.csv")), err::kIo);
    EXPECT_EQ(LeftInFolder(), (std::vector<std::string>{"kept.csv"}));
    EXPECT_EQ(ReadFile(Path("kept.csv")), "kept");
  }
  faults::Reset();

  auto cancel_at_fifth = [](ProgressPhase phase, int done, int) {
    return phase == ProgressPhase::kStep && done == 5 ? 1 : 0;
  };
  EXPECT_EQ(WriteTextTable(c, AllCells(c), options, Path("out.csv"), cancel_at_fifth), err::kUserCancelled);
  auto fail_at_fifth = [](ProgressPhase phase, int done, int) {
    return phase == ProgressPhase::kStep && done == 5 ? static_cast<int>(err::kDiskFull) : 0;
  };
  EXPECT_EQ(WriteTextTable(c, AllCells(c), options, Path("out.csv"), fail_at_fifth), err::kDiskFull);
  EXPECT_EQ(WriteTextTable(c, AllCells(c), options, Path("no-such-folder/out.csv")), err::kFileNotFound);
  EXPECT_EQ(LeftInFolder(), (std::vector<std::string>{"kept.csv"}));

  // A folder without write permission (permissions do not stop root).
  if (::geteuid() != 0) {
    fs::create_directory(Path("locked"));
    fs::permissions(Path("locked"), fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_NE(WriteTextTable(c, AllCells(c), options, Path("locked/out.csv")), err::kNone);
    EXPECT_TRUE(fs::is_empty(Path("locked")));
    fs::permissions(Path("locked"), fs::perms::owner_all);
  }
}

TEST_F(DelimitedTextTest, RefusesOptionsAndCellsOutOfRange) {
  catalog::Catalog& c = Open();
  Add(c, ItemSpec("a.jpg"));
  struct Case {
    const char* name;
    TextTableOptions options;
    std::vector<int> cells;
    ErrorCode want;
  };
  const Case cases[] = {
      {"200 fields", Options(TextFormat::kTab, std::vector<FieldId>(200, field_ids::kFileName)), {1}, err::kNone},
      {"201 fields", Options(TextFormat::kTab, std::vector<FieldId>(201, field_ids::kFileName)), {1}, err::kParam},
      {"255-byte delimiter", Options(TextFormat::kMerge, {kCaption}, false, std::string(255, ';')), {1},
       err::kNone},
      {"256-byte delimiter", Options(TextFormat::kMerge, {kCaption}, false, std::string(256, ';')), {1},
       err::kParam},
      {"format 0", Options(static_cast<TextFormat>(0), {kCaption}), {1}, err::kParam},
      {"format 4", Options(static_cast<TextFormat>(4), {kCaption}), {1}, err::kParam},
      {"cell 0", Options(TextFormat::kTab, {kCaption}), {0}, err::kParam},
      {"cell past the last", Options(TextFormat::kTab, {kCaption}), {1, 2}, err::kParam},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    std::string text;
    EXPECT_EQ(TextTableText(c, k.cells, k.options, &text), k.want);
    EXPECT_EQ(WriteTextTable(c, k.cells, k.options, Path("t.txt")), k.want);
    EXPECT_EQ(fs::exists(Path("t.txt")), k.want == err::kNone);
    fs::remove(Path("t.txt"));
  }
}

TEST_F(DelimitedTextTest, ListCopyIsTabSeparatedWithoutLabelsAndAtMostTenColumns) {
  catalog::Catalog& c = Open();
  const std::string photo = Path("photo \"one\".jpg");
  std::ofstream(photo) << "x";
  catalog::ItemRecord r;
  r.setFileName("photo \"one\".jpg");
  r.setDisplayName("photo \"one\".jpg");
  std::uint32_t first = 0;
  ASSERT_EQ(catalog::AddItem(c, r, dir_, &first), err::kNone);
  const std::uint32_t second = Add(c, ItemSpec("b.jpg", {{kCaption, "b's caption"}, {kCity, "Oslo"}}));

  std::string text;
  ASSERT_EQ(ListCopyTextOfItems(c, std::vector<std::uint32_t>{second, first}, ListCopyChoice::kFileName, {}, &text),
            err::kNone);
  EXPECT_EQ(text, "b.jpg\r\nphoto 'one'.jpg\r\n");
  ASSERT_EQ(ListCopyText(c, std::vector<int>{1}, ListCopyChoice::kPathName, {}, &text), err::kNone);
  EXPECT_EQ(text, Path("photo 'one'.jpg") + "\r\n");
  EXPECT_EQ(ListCopyTextOfItems(c, std::vector<std::uint32_t>{99}, ListCopyChoice::kFileName, {}, &text),
            err::kParam);
  // A choice byte this version does not know copies file names.
  ASSERT_EQ(ListCopyText(c, std::vector<int>{2}, static_cast<ListCopyChoice>(7), {}, &text), err::kNone);
  EXPECT_EQ(text, "b.jpg\r\n");

  // Twelve displayed columns: the first ten are copied, in view order.
  const std::vector<FieldId> columns = {kCity,   field_ids::kFileName, kCaption, 0x216, 0x250, 0x255,
                                        0x26e,   0x273,                0x274,    0x267, kKeywords, 0x214};
  const TextTableOptions options = ListCopyOptions(ListCopyChoice::kDisplayedFields, columns);
  EXPECT_EQ(options.fields, std::vector<FieldId>(columns.begin(), columns.begin() + 10));
  EXPECT_EQ(options.format, TextFormat::kTab);
  EXPECT_FALSE(options.label_row);
  EXPECT_EQ(options.delimiter, ",");
  ASSERT_EQ(ListCopyText(c, std::vector<int>{2}, ListCopyChoice::kDisplayedFields, columns, &text), err::kNone);
  EXPECT_EQ(text, "Oslo\tb.jpg\tb's caption\t-\t-\t-\t-\t-\t-\t-\r\n");
}

}  // namespace
}  // namespace norvo::output
