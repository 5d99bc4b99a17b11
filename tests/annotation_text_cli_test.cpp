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

class AnnotationTextCliTest : public CliHarness {
 protected:
  std::string Photo(const std::string& name) { return CliHarness::Photo("Canon_40D.jpg", name); }
  // The merged annotations norvo-cli reads from a file.
  Json Annotations(const std::string& path) { return JsonOf({"metadata", path}).at(0)["annotations"]; }
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

  // Groups named; IPTC records without a declaration read as UTF-8.
  Json theirs = Exiftool("-G1 -charset iptc=UTF8 -IPTC:all -XMP-dc:Subject -XMP-dc:Description -XMP-photoshop:City",
                         files);
  if (theirs.empty()) GTEST_SKIP() << "exiftool is not installed";
  ASSERT_EQ(theirs.size(), files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(kScripts[i].name);
    const Json& tags = theirs[i];
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
  Json shown = JsonOf({"annotate", path, "Author=Σωκράτης", "Keywords=日本; 東京"});
  EXPECT_EQ(Values(shown["annotations"], "Author"), std::vector<std::string>{"Σωκράτης"});
  EXPECT_EQ(Values(shown["annotations"], "Keywords"), (std::vector<std::string>{"日本", "東京"}));
}

TEST_F(AnnotationTextCliTest, MetadataReadsRecordsExiftoolWrote) {
  if (!Have({"exiftool"})) GTEST_SKIP() << "exiftool is not installed";
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
  EXPECT_EQ(Values(Annotations(latin), "Caption"), std::vector<std::string>{"Café"});
}

}  // namespace
