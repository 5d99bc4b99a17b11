// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the built norvo-cli export on annotated photos: tables byte for byte
// against golden files, usage errors and what a failed export leaves.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/cli_harness.h"

namespace {

namespace fs = std::filesystem;
using namespace norvo::cli_testing;

class ExportCliTest : public CliHarness {
 protected:
  // Three photos with annotations written into their files, imported in
  // this order: a caption with a double quote and a line break, list
  // values, a name with an accent, a Greek name and a photo without a
  // caption.
  void MakeCatalog() {
    const std::string canon = Photo("Canon_40D.jpg", "canon.jpg");
    const std::string creme = Photo("Olympus_C8080WZ.jpg", "Cr\xC3\xA8me br\xC3\xBBl\xC3\xA9" "e.jpg");
    const std::string athens =
        Photo("BlueSquare.jpg", "\xCE\x91\xCE\xB8\xCE\xAE\xCE\xBD\xCE\xB1.jpg");  // Αθήνα.jpg
    Ok({"annotate", canon, "Caption=The \"big\" lens,\ntwo lines", "Keywords=sea; sun", "City=Oslo"});
    Ok({"annotate", creme, "Caption=Dessert\tafter dinner", "Keywords=caf\xC3\xA9", "City=Z\xC3\xBCrich"});
    Ok({"annotate", athens, "Caption=", "City=\xCE\x91\xCE\xB8\xCE\xAE\xCE\xBD\xCE\xB1"});
    NewCatalog();
    Ok({"import", catalog_, canon, creme, athens});
    Ok({"label", catalog_, "2", "Red"});
  }
  std::string Exported(const std::vector<std::string>& options) {
    const std::string file = (dir_ / "out.txt").string();
    Ok(Plus({"export", catalog_, file}, options));
    std::string text = ReadAll(file);
    fs::remove(file);
    return text;
  }
};

// The layout of each format is a contract: every table matches its golden
// file byte for byte (CR LF row ends, tabs, quotes, 8-bit bytes).
TEST_F(ExportCliTest, TablesMatchGoldenFiles) {
  MakeCatalog();
  const std::string fields = "File Name,Caption,Keywords,City,Labels,Width,Height";
  struct Case {
    const char* golden;
    std::vector<std::string> options;
  };
  const Case cases[] = {
      {"export_tab.txt", {"--format", "tab", "--labels", "--fields", "Path,0x2", "--fields", fields}},
      {"export_comma.csv", {"--format", "comma", "--fields", fields}},
      {"export_merge.txt", {"--format", "merge", "--delimiter", ";", "--fields", fields}},
      {"export_comma_8bit.csv", {"--format", "comma", "--labels", "--encoding", "8bit", "--fields", fields}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.golden);
    EXPECT_EQ(Exported(c.options), Golden(c.golden));
  }
}

TEST_F(ExportCliTest, FieldsAreNamedAsFindNamesThemAndTheSummaryTellsWhatWasWritten) {
  MakeCatalog();
  // A label in any case, a hex id, spaces around names.
  EXPECT_EQ(Exported({"--format", "tab", "--fields", "file name, 0X278 ,KEYWORDS"}),
            Exported({"--format", "tab", "--fields", "0x2,Caption,0x219"}));
  const std::string file = (dir_ / "summary.csv").string();
  EXPECT_EQ(JsonOf({"export", catalog_, file, "--format", "comma", "--fields", "Caption,City"}),
            (Json{{"file", file}, {"items", 3}, {"fields", 2}}));
  EXPECT_EQ(Ok({"export", catalog_, file, "--format", "comma", "--fields", "Caption"}),
            "file:   " + file + "\nitems:  3\nfields: 1\n");
  fs::remove(file);
}

TEST_F(ExportCliTest, AWrongCommandLineIsAUsageErrorNamingTheProblem) {
  NewCatalog();
  const std::string file = (dir_ / "out.txt").string();
  struct Case {
    std::vector<std::string> options;
    std::string names;  // what the one line must mention
  };
  const Case cases[] = {
      {{"--format", "tab", "--fields", "File Name,Nope"}, "'Nope' is not a field"},
      {{"--format", "tab", "--fields", "0x2f2"}, "'0x2f2' is not a field"},
      {{"--format", "tab", "--fields", "File Name,,Caption"}, "empty field name"},
      {{"--format", "tab"}, "--fields"},
      {{"--fields", "Caption"}, "--format"},
      {{"--format", "csv", "--fields", "Caption"}, "'csv' is not a format"},
      {{"--format", "comma", "--delimiter", ";", "--fields", "Caption"}, "--delimiter goes with --format merge"},
      {{"--format", "merge", "--delimiter", std::string(256, ';'), "--fields", "Caption"}, "at most 255 bytes"},
      {{"--format", "tab", "--encoding", "latin1", "--fields", "Caption"}, "'latin1' is not an encoding"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.names);
    const CliResult r = Fails(Plus({"export", catalog_, file}, c.options), 2, c.names);
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    EXPECT_FALSE(fs::exists(file));
  }
  std::vector<std::string> many = {"export", catalog_, file, "--format", "tab"};
  for (int i = 0; i < 201; ++i) many.insert(many.end(), {"--fields", "0x2"});
  Fails(many, 2);
}

// A table that cannot be written fails with the file system's error and
// leaves neither a partial file nor a temporary one (the harness checks
// that no hidden file is left in the folder); a file already there stays.
TEST_F(ExportCliTest, AFailedExportLeavesNoFile) {
  MakeCatalog();
  Fails({"export", catalog_, (dir_ / "no-such-folder" / "out.txt").string(), "--format", "tab", "--fields", "Caption"},
        1, "(error -43)");
  EXPECT_FALSE(fs::exists(dir_ / "no-such-folder"));

  // A folder in the table's place is not replaced.
  fs::create_directory(dir_ / "taken");
  std::ofstream(dir_ / "taken" / "inside.txt") << "kept";
  Fails({"export", catalog_, (dir_ / "taken").string(), "--format", "tab", "--fields", "Caption"}, 1);
  EXPECT_TRUE(fs::is_directory(dir_ / "taken"));
  EXPECT_EQ(ReadAll(dir_ / "taken" / "inside.txt"), "kept");
}

}  // namespace
