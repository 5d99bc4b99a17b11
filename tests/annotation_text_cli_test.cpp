// SPDX-License-Identifier: GPL-3.0-or-later
// Annotations in every script through norvo-cli: `annotate` writes them into
// photos, `metadata --json` reads them back, and exiftool checks what the
// files hold.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/cli_harness.h"

namespace {

namespace fs = std::filesystem;
using namespace norvo::cli_testing;

const fs::path kPhotos = fs::path(NORVO_TESTDATA_DIR) / "photos";

struct ScriptSample {
  const char* name;
  std::string text;  // no list separators: one keyword
};
const ScriptSample kScripts[] = {
    {"Cyrillic", "Привет мир"},
    {"Greek", "Καλημέρα κόσμε"},
    {"Japanese", "東京の夜景"},
    {"Arabic", "مرحبا بالعالم"},
    {"emoji", "📷 👍🏽 👨‍👩‍👧"},
    {"combining marks", "Cafe\u0301 n\u0303o"},
};

// An exiftool value as a list: a lone value is a string, several an array.
std::vector<std::string> Values(const Json& tags, std::string_view key) {
  for (const auto& [k, v] : tags.members) {
    if (k != key) continue;
    if (v.kind == Json::Kind::kString) return {v.text};
    std::vector<std::string> out;
    for (const Json& item : v.items) out.push_back(item.text);
    return out;
  }
  return {};
}

class AnnotationTextCliTest : public CliHarness {
 protected:
  std::string Photo(const std::string& name) {
    fs::path to = dir_ / name;
    fs::copy_file(kPhotos / "Canon_40D.jpg", to);
    fs::permissions(to, fs::perms::owner_write, fs::perm_options::add);
    return to.string();
  }
  // The merged annotations norvo-cli reads from a file.
  Json Annotations(const std::string& path) {
    return JsonParser::Parse(Ok({"metadata", path, "--json"})).items.at(0)["annotations"];
  }
  std::vector<std::string> Field(const std::string& path, std::string_view label) {
    return Values(Annotations(path), label);
  }
  // exiftool's reading of the files (groups named, IPTC records without a
  // declaration taken as `iptc_charset`); an empty array without exiftool.
  static Json Exiftool(const std::vector<std::string>& files, const std::string& iptc_charset = "UTF8") {
    std::string command = "exiftool -j -G1 -charset iptc=" + iptc_charset +
                          " -IPTC:all -XMP-dc:Subject -XMP-dc:Description -XMP-photoshop:City";
    for (const auto& f : files) command += " '" + f + "'";
    command += " 2>/dev/null";
    std::string text;
    if (FILE* pipe = popen(command.c_str(), "r")) {
      char buffer[4096];
      std::size_t n = 0;
      while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
      pclose(pipe);
    }
    return JsonParser::Parse(text.empty() ? "[]" : text);
  }
  static bool ExiftoolWrites(const std::string& arguments) {
    return std::system(("exiftool -q -q -overwrite_original " + arguments + " >/dev/null 2>&1").c_str()) == 0;
  }
};

TEST_F(AnnotationTextCliTest, AnnotateKeepsTheKeywordsOfEveryScriptWhole) {
  // The fault: "Keywords=Привет, b" wrote the IPTC keyword "______", and the
  // file then read back as three keywords (the underscores, the XMP one, b).
  std::vector<std::string> files;
  for (const ScriptSample& s : kScripts) {
    SCOPED_TRACE(s.name);
    std::string path = Photo(std::string("photo-") + std::to_string(files.size()) + ".jpg");
    files.push_back(path);
    Ok({"annotate", path, "Keywords=" + s.text + ", b", "Caption=" + s.text + ", as a caption", "City=Zürich"});
    Json annotations = Annotations(path);
    EXPECT_EQ(Values(annotations, "Keywords"), (std::vector<std::string>{s.text, "b"}));
    EXPECT_EQ(Values(annotations, "Caption"), std::vector<std::string>{s.text + ", as a caption"});
    EXPECT_EQ(Values(annotations, "City"), std::vector<std::string>{"Zürich"});
  }

  Json theirs = Exiftool(files);
  if (theirs.items.empty()) GTEST_SKIP() << "exiftool is not installed";
  ASSERT_EQ(theirs.items.size(), files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(kScripts[i].name);
    const Json& tags = theirs.items[i];
    const std::string& text = kScripts[i].text;
    EXPECT_EQ(Values(tags, "IPTC:CodedCharacterSet"), std::vector<std::string>{"UTF8"});
    EXPECT_EQ(Values(tags, "IPTC:Keywords"), (std::vector<std::string>{text, "b"}));
    EXPECT_EQ(Values(tags, "XMP-dc:Subject"), (std::vector<std::string>{text, "b"}));
    EXPECT_EQ(Values(tags, "IPTC:Caption-Abstract"), std::vector<std::string>{text + ", as a caption"});
    EXPECT_EQ(Values(tags, "XMP-dc:Description"), std::vector<std::string>{text + ", as a caption"});
    EXPECT_EQ(Values(tags, "IPTC:City"), std::vector<std::string>{"Zürich"});
  }
}

TEST_F(AnnotationTextCliTest, AnnotateJsonShowsWhatWasWritten) {
  const std::string path = Photo("json.jpg");
  Json shown = JsonParser::Parse(Ok({"annotate", path, "Author=Σωκράτης", "Keywords=日本; 東京", "--json"}));
  EXPECT_EQ(Values(shown["annotations"], "Author"), std::vector<std::string>{"Σωκράτης"});
  EXPECT_EQ(Values(shown["annotations"], "Keywords"), (std::vector<std::string>{"日本", "東京"}));
}

TEST_F(AnnotationTextCliTest, MetadataReadsRecordsExiftoolWrote) {
  if (std::system("exiftool -ver >/dev/null 2>&1") != 0) GTEST_SKIP() << "exiftool is not installed";
  // The fault: records declaring UTF-8 were read as 8-bit text.
  const std::string utf8 = Photo("utf8.jpg");
  ASSERT_TRUE(ExiftoolWrites("-charset iptc=UTF8 -IPTC:CodedCharacterSet=UTF8 '-IPTC:Caption-Abstract=Café crème' "
                             "'-IPTC:City=Zürich' '-IPTC:Keywords=Привет' '-IPTC:Keywords=مرحبا' '" + utf8 + "'"));
  Json annotations = Annotations(utf8);
  EXPECT_EQ(Values(annotations, "Caption"), std::vector<std::string>{"Café crème"});
  EXPECT_EQ(Values(annotations, "City"), std::vector<std::string>{"Zürich"});
  EXPECT_EQ(Values(annotations, "Keywords"), (std::vector<std::string>{"Привет", "مرحبا"}));

  // Undeclared records are Windows-1252.
  const std::string latin = Photo("cp1252.jpg");
  ASSERT_TRUE(ExiftoolWrites("-charset iptc=cp1252 '-IPTC:Caption-Abstract=Café' '" + latin + "'"));
  EXPECT_EQ(Field(latin, "Caption"), std::vector<std::string>{"Café"});
}

}  // namespace
