// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the built norvo-cli on real photos in a temporary folder and checks
// its output (text and JSON), exit status, help, and the files it leaves
// behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "app/messages.h"
#include "app/preferences.h"
#include "catalog/limits.h"
#include "tests/cli_harness.h"

namespace {

namespace fs = std::filesystem;
using namespace norvo::cli_testing;

using CliTest = CliHarness;

// The keys of an object's text form: nested objects' members dotted, lists
// on one line.
std::vector<std::string> DottedKeys(const Json& object, const std::string& prefix) {
  std::vector<std::string> keys;
  for (const auto& [key, value] : object.items()) {
    if (!value.is_object() || value.empty()) {
      keys.push_back(prefix + key);
      continue;
    }
    for (std::string& nested : DottedKeys(value, prefix + key + ".")) keys.push_back(std::move(nested));
  }
  return keys;
}

TEST_F(CliTest, AddLabelRemoveAndSaveAs) {
  Ok({"new", catalog_});
  Json info = JsonOf({"info", catalog_});
  EXPECT_EQ((Json{info["items"], info["next_id"], info["saved_by"]}), (Json{0, 1, norvo::catalog::kProductCode}));
  EXPECT_TRUE(List(catalog_).empty());
  auto size_before = fs::file_size(catalog_);
  Fails({"new", catalog_}, 1, "(error -48)");
  EXPECT_EQ(fs::file_size(catalog_), size_before);

  std::vector<std::string> files = {Photo("Canon_40D.jpg", "a.jpg"), Photo("Nikon_D70.jpg", "b.jpg"),
                                    Photo("Pentax_K10D.jpg", "c-3.jpg")};
  EXPECT_EQ(Ok({"add", catalog_, files[0], files[1], files[2]}), "1\n2\n3\n");
  Json list = List(catalog_);
  ASSERT_EQ(list.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(list[i]["id"], i + 1);
    EXPECT_TRUE(list[i]["pending"].get<bool>());
    EXPECT_EQ(list[i]["path"], files[i]);
  }

  // After "--", a word that starts with '-' is an operand.
  EXPECT_EQ(Ok({"find", catalog_, "--", "-3"}), "3\n");

  Ok({"label", catalog_, "1", "gREEN"});
  Ok({"label", catalog_, "3", "7"});
  EXPECT_EQ(JsonOf({"info", catalog_})["labelled"], 2);
  list = List(catalog_);
  EXPECT_EQ(list[0]["label"], 2);
  EXPECT_EQ(list[2]["label"], 7);
  Ok({"label", catalog_, "3", "none"});
  EXPECT_EQ(JsonOf({"info", catalog_})["labelled"], 1);

  // A bad ID in the list changes nothing, even when the others are valid.
  Fails({"remove", catalog_, "2", "99"}, 1, "(error -50)");
  EXPECT_EQ(JsonOf({"info", catalog_})["items"], 3);

  Ok({"remove", catalog_, "2"});
  EXPECT_EQ(Ok({"add", catalog_, Photo("Kodak_CX7530.jpg", "d.jpg")}), "4\n");  // ItemId 2 is not reused
  info = JsonOf({"info", catalog_});
  // Pending records carry no parts: the fixed part is all that is stored.
  EXPECT_EQ((Json{info["items"], info["next_id"], info["total_record_bytes"]}),
            (Json{3, 5, 3 * norvo::catalog::kFixedPartSize}));
  EXPECT_EQ(Numbers(JsonOf({"find", catalog_, ".jpg"})), (std::vector<long long>{1, 3, 4}));

  std::string copy = (dir_ / "copy.nrk").string();
  Ok({"save-as", catalog_, copy});
  EXPECT_EQ(Ok({"list", copy, "--json"}), Ok({"list", catalog_, "--json"}));
  EXPECT_EQ(Run({"save-as", catalog_, copy}).status, 1);  // never replaces a file
}

// The JSON keys, their order and the text layout are a contract scripts
// rely on: each output matches its golden file byte for byte.
TEST_F(CliTest, OutputsMatchGoldenFiles) {
  NewCatalog({Photo("Olympus_C8080WZ.jpg", "one.jpg"), Photo("Canon_40D.jpg", "Crème \"2\".jpg")});
  Ok({"label", catalog_, "2", "Cyan"});
  for (const auto& [command, json, golden] : std::vector<std::tuple<std::string, bool, std::string>>{
           {"list", true, "list_two_items.json"},
           {"list", false, "list_two_items.txt"},
           {"info", true, "info_two_items.json"},
           {"info", false, "info_two_items.txt"}}) {
    SCOPED_TRACE(golden);
    std::vector<std::string> args = {command, catalog_};
    if (json) args.push_back("--json");
    EXPECT_EQ(Ok(args), Golden(golden));
  }
}

// Text and JSON say the same (list and info are held to golden files): an
// object's text has one `key: value` line per JSON member (nested ones
// dotted), in order; a list has a header row and one row per element.
TEST_F(CliTest, TextOutputsCarryWhatTheJsonCarries) {
  Ok({"new", catalog_});
  const std::string photo = Photo("BlueSquare.jpg", "blue.jpg");
  Ok({"import", catalog_, photo, Photo("Canon_40D.jpg", "canon.jpg")});
  struct Case {
    std::vector<std::string> args;
    std::string header;  // the words of the header row; "" for key: value lines
  };
  const Case cases[] = {
      {{"prefs", "1280x1024"}, ""},
      {{"import-options", catalog_}, ""},
      {{"startup"}, ""},
      {{"groups", catalog_, "Keywords"}, "NAME CONTAINER COUNT ITEMS"},
      {{"types"}, "CODE CLASS HANDLER KIND"},
      {{"recognize", photo, catalog_}, "CODE CLASS FILE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    const Json json = JsonOf(c.args);
    const std::vector<std::string> text = Lines(Ok(c.args));
    if (c.header.empty()) {
      std::vector<std::string> shown;
      for (const std::string& line : text) shown.push_back(line.substr(0, line.find(':')));
      EXPECT_EQ(shown, DottedKeys(json, ""));
    } else {
      ASSERT_EQ(text.size(), json.size() + 1);
      EXPECT_EQ(std::regex_replace(text[0], std::regex(" +"), " "), c.header);
    }
  }
  // The rows say what the JSON says.
  EXPECT_EQ(Lines(Ok({"recognize", photo, catalog_}))[2], "-     -      " + catalog_);
  const std::vector<std::string> groups = Lines(Ok({"groups", catalog_, "Keywords"}));
  EXPECT_NE(std::ranges::find(groups, "Blue Square  no             1  1"), groups.end());
  EXPECT_EQ(Ok({"find", catalog_, "o"}), "1\n2\n");  // "blue.jpg", "canon.jpg"
  EXPECT_EQ(Ok({"find", catalog_, "nothing like it"}), "");
  EXPECT_EQ(Ok({"find", catalog_, "blue", "--json"}), "[\n  1\n]\n");
}

TEST_F(CliTest, MetadataTextListsLabelsInOneColumnPerFile) {
  const std::string a = Photo("Canon_40D.jpg", "a.jpg"), b = Photo("DSCN0010.jpg", "b.jpg");
  const std::vector<std::string> one = Lines(Ok({"metadata", a}));
  ASSERT_FALSE(one.empty());
  EXPECT_EQ(one[0].substr(0, 11), "Orientation");
  EXPECT_NE(std::ranges::find(one, "Model          : Canon EOS 40D"), one.end());
  for (const std::string& line : one) EXPECT_EQ(line.find(" : "), one[0].find(" : ")) << line;

  const std::vector<std::string> both = Lines(Ok({"metadata", a, b}));
  EXPECT_EQ(both[0], "======== " + a);
  auto second = std::ranges::find(both, "======== " + b);
  ASSERT_NE(second, both.end());
  EXPECT_EQ(std::vector<std::string>(both.begin() + 1, second), one);
}

// Fault: names outside Windows-1252 were listed as underscores ("______.jpg").
// Import, list, save elsewhere and reopen keep them whole, in every script.
TEST_F(CliTest, NamesInEveryScriptSurviveImportSaveAndReopen) {
  Ok({"new", catalog_});
  std::vector<std::string> names = {"Москва.jpg", "Ακρόπολη.jpg", "東京タワー.jpg", "القاهرة.jpg",
                                    "party 🎉.jpg", "Cafe\xCC\x81.jpg",   "Łódź 日本.jpg"};
  fs::create_directory(dir_ / "shoot");
  for (const std::string& name : names) Photo("DSCN0010.jpg", "shoot/" + name);
  std::ranges::sort(names);
  Ok({"import", catalog_, (dir_ / "shoot").string()});
  const std::string copy = (dir_ / "copy.nrk").string();
  Ok({"save-as", catalog_, copy});
  for (const std::string& catalog : {catalog_, copy}) {
    SCOPED_TRACE(catalog);
    std::vector<std::string> listed;
    for (const Json& item : List(catalog)) {
      EXPECT_EQ(item["display_name"], item["file_name"]);
      EXPECT_EQ(item["path"], (dir_ / "shoot" / item["file_name"].get<std::string>()).string());
      EXPECT_FALSE(item["pending"].get<bool>());
      listed.push_back(item["file_name"].get<std::string>());
    }
    std::ranges::sort(listed);
    EXPECT_EQ(listed, names);
    std::string check = Ok({"check", catalog});
    EXPECT_NE(check.find(norvo::app::NoMissingFilesMessage()), std::string::npos) << check;
  }
}

TEST_F(CliTest, CheckReportsMissingFilesAndReadersLeaveTheFileAlone) {
  std::string kept = Photo("Canon_40D.jpg", "kept.jpg"), gone = Photo("Nikon_D70.jpg", "gone.jpg");
  NewCatalog({kept, gone});
  fs::remove(gone);
  std::string bytes_before = ReadAll(catalog_);
  auto time_before = fs::last_write_time(catalog_);
  std::string check = Ok({"check", catalog_});
  EXPECT_NE(check.find("\nmissing: 2 " + gone + "\n"), std::string::npos) << check;
  EXPECT_EQ(check.find("missing: 1 "), std::string::npos) << check;
  EXPECT_EQ(check.find(norvo::app::NoMissingFilesMessage()), std::string::npos) << check;
  for (const char* command : {"list", "info"}) {
    Ok({command, catalog_});
    Ok({command, catalog_, "--json"});
  }
  EXPECT_EQ(ReadAll(catalog_), bytes_before);
  EXPECT_EQ(fs::last_write_time(catalog_), time_before);
}

TEST_F(CliTest, FailuresExitWithMessageAndCode) {
  std::string not_catalog = Photo("BlueSquare.jpg", "photo.nrk");
  CliResult r = Run({"info", not_catalog});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.out.empty());
  EXPECT_TRUE(r.err.ends_with(" (error -812)\n")) << r.err;
  EXPECT_GT(r.err.size(), std::string(" (error -812)\n").size());

  NewCatalog();
  std::string missing = (dir_ / "no such.jpg").string();
  r = Fails({"add", catalog_, Photo("Canon_40D.jpg", "a.jpg"), missing}, 1, missing);
  EXPECT_TRUE(r.err.ends_with("(error -43)\n")) << r.err;
  EXPECT_EQ(JsonOf({"info", catalog_})["items"], 0);  // nothing saved
}

// A wrong command line exits with 2 and one line that names the command,
// the problem and where to read more, and changes nothing.
TEST_F(CliTest, UsageErrorsAreOneLineNamingTheCommand) {
  NewCatalog({Photo("Canon_40D.jpg", "a.jpg")});
  const std::string before = ReadAll(catalog_);
  struct Case {
    std::vector<std::string> args;
    std::string command;  // "" for none
    std::string problem;
  };
  const std::string c = catalog_;
  const Case cases[] = {
      {{}, "", "no command given"},
      {{"frobnicate", c}, "", "unknown command 'frobnicate'"},
      {{"help", "frobnicate"}, "", "no command 'frobnicate'"},
      {{"--password"}, "", "--password needs TEXT"},
      {{"--wait", "90000", "info", c}, "", "--wait takes a number from 0 to 86400"},
      {{"info"}, "info", "expected 1 argument, got 0"},
      {{"label", c, "1"}, "label", "expected 3 arguments, got 2"},
      {{"remove", c}, "remove", "expected at least 2 arguments, got 1"},
      {{"prefs", "1x1", "2x2"}, "prefs", "expected at most 1 argument, got 2"},
      {{"list", c, "--frob"}, "list", "unknown option --frob"},
      {{"new", c, "--json"}, "new", "unknown option --json"},
      {{"scan", c, "--jobs", "0"}, "scan", "--jobs takes a number from 1 to 256"},
      {{"preview", "a.jpg", "b.jpg", "--size", "big"}, "preview", "--size takes a number from 1 to 16384"},
      {{"find", c, "--where", "Author", "is"}, "find", "--where needs FIELD OP VALUE"},
      {{"find", c, "--where", "Author", "is less than", "3"}, "find", "\"contains\""},
      {{"find", c, "--where", "Nonsense", "is", "x"}, "find", "'Nonsense' is not a field"},
      {{"find", c, "--where", "File Size", "equals", "many"}, "find", "'many' is not a value"},
      {{"label", c, "1", "Purple"}, "label", "'Purple' is not a label"},
      {{"label", c, "1", "10"}, "label", "'10' is not a label"},
      {{"remove", c, "x"}, "remove", "'x' is not an ItemId"},
      {{"sort", c, "No Such Field"}, "sort", "'No Such Field' is not a field"},
      {{"groups", c, "Caption"}, "groups", "'Caption' has no groups"},
      {{"annotate-item", c, "1", "File Size=3"}, "annotate-item", "'File Size' is not an annotation field"},
      {{"set", c, "rename", "x"}, "set", "'rename' is not new, add, remove or delete"},
      {{"set", c, "add", "x", "1", "--container"}, "set", "--container and --parent go with new"},
      {{"settings", "get", "TOOLONG", "1"}, "settings", "'TOOLONG' is not a four-character code"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.args.empty() ? "(nothing)" : k.args[0] + " " + k.problem);
    CliResult r = Run(k.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.out.empty()) << r.out;
    const std::string name = k.command.empty() ? "" : k.command + ": ";
    const std::string tail = "; see norvo-cli help" + (k.command.empty() ? "" : " " + k.command) + "\n";
    EXPECT_TRUE(r.err.starts_with("norvo-cli: " + name)) << r.err;
    EXPECT_TRUE(r.err.ends_with(tail)) << r.err;
    EXPECT_EQ(std::ranges::count(r.err, '\n'), 1) << r.err;
    EXPECT_NE(r.err.find(k.problem), std::string::npos) << r.err;
  }
  EXPECT_EQ(ReadAll(catalog_), before);
}

// Every command the program knows has its help, an entry in the man page
// and a branch in the bash completion that offers each of its options.
TEST_F(CliTest, EveryCommandHasHelpManPageAndCompletion) {
  EXPECT_EQ(Ok({"--version"}), std::string("norvo-cli ") + NORVO_VERSION + "\n");
  EXPECT_EQ(Ok({"--help"}), Ok({"help"}));
  const std::string man = ReadAll(fs::path(NORVO_CLI_SOURCE_DIR) / "norvo-cli.1");
  const std::string completion = ReadAll(fs::path(NORVO_CLI_SOURCE_DIR) / "norvo-cli.bash-completion");
  ASSERT_FALSE(man.empty());
  ASSERT_FALSE(completion.empty());
  const std::regex commands_line(R"(commands="([^"]*)\")");
  std::smatch listed;
  ASSERT_TRUE(std::regex_search(completion, listed, commands_line));
  std::vector<std::string> names;
  for (const std::string& line : Lines(Ok({"help"}))) {
    std::smatch m;
    if (std::regex_match(line, m, std::regex("  ([a-z][a-z-]+)  .*"))) names.push_back(m[1]);
  }
  ASSERT_GE(names.size(), 30u);
  names.push_back("help");
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(std::regex_search(man, std::regex("\n\\.B[IR]? " + name + "( |\n)"))) << "no man page entry";
    EXPECT_TRUE(std::regex_search(listed[1].str(), std::regex("(^|\\s)" + name + "(\\s|$)")));
    if (name == "help") continue;
    const std::string help = Ok({"help", name});
    EXPECT_EQ(Ok({name, "--help"}), help);
    EXPECT_TRUE(help.starts_with("usage: norvo-cli [GLOBAL OPTIONS] " + name)) << help;
    std::smatch branch;
    ASSERT_TRUE(std::regex_search(completion, branch, std::regex("\n    " + name + "\\)([^\n]*)")));
    for (const std::string& line : Lines(help)) {
      std::smatch option;
      if (!std::regex_match(line, option, std::regex("  (--[a-z-]+).*"))) continue;
      if (option[1] == "--help") continue;
      EXPECT_NE(branch[1].str().find(option[1].str()), std::string::npos) << option[1] << " not completed";
      std::string in_roff;  // roff writes each '-' of an option as "\-"
      for (char ch : option[1].str()) in_roff += ch == '-' ? std::string("\\-") : std::string(1, ch);
      EXPECT_NE(man.find(in_roff), std::string::npos) << option[1] << " not in the man page";
    }
  }
}

TEST_F(CliTest, PasswordProtectsNewCatalog) {
  Ok({"--password", "sésame", "new", catalog_});
  Fails({"info", catalog_}, 1, "protected by a password");
  EXPECT_TRUE(Fails({"--password", "wrong", "info", catalog_}, 1).err.ends_with("(error -10004)\n"));
  EXPECT_TRUE(JsonOf({"--password", "sésame", "info", catalog_})["password"].get<bool>());
}

TEST_F(CliTest, TypesAndRecognitionComeFromTheLinkedLibraries) {
  Json types = JsonOf({"types"});
  auto row = [&](const std::string& code) {
    auto it = std::ranges::find_if(types, [&](const Json& t) { return t["code"] == code; });
    return it == types.end() ? Json() : *it;
  };
  EXPECT_EQ(row("JPEG")["class"], "Image");
  EXPECT_FALSE(row("TIFF").is_null());
  EXPECT_FALSE(row("8BPS").is_null());

  std::string text = (dir_ / "notes.xyz").string();
  std::ofstream(text) << "not media";
  Json seen = JsonOf({"recognize", Photo("Canon_40D.jpg", "IMG_0001.JPG"), (kPhotos / "Arbitro.tiff").string(), text});
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ((Json{seen[0]["code"], seen[0]["class"], seen[1]["code"], seen[2]["code"], seen[2]["class"]}),
            (Json{"JPEG", "Image", "TIFF", nullptr, nullptr}));
}

TEST_F(CliTest, SettingsAndPreferencesPersistInTheUsersStore) {
  std::string labels = (dir_ / "labels.bin").string();
  std::string block(2358, '\0');
  block[0] = 3;
  block.replace(1, 3, "Hot");
  std::ofstream(labels, std::ios::binary) << block;
  Ok({"settings", "put", "LABL", "1", labels});
  EXPECT_EQ(Ok({"settings", "get", "LABL", "1"}), block);
  EXPECT_TRUE(fs::exists(dir_ / "xdg" / "config" / "Norvo" / "Media2" / "settings.db"));
  Ok({"settings", "delete", "LABL", "1"});
  EXPECT_TRUE(Fails({"settings", "get", "LABL", "1"}, 1).err.ends_with("(error -43)\n"));

  Json prefs = JsonOf({"prefs", "1280x1024"});
  EXPECT_EQ(prefs["window"], (Json{{"top", 80}, {"left", 64}, {"bottom", 944}, {"right", 1216}}));
}

TEST_F(CliTest, StartupReportsWhatTheCommandLineOpens) {
  Ok({"new", catalog_});
  std::string upper = (dir_ / "Archive 2024.NRK").string();
  fs::copy_file(catalog_, upper);
  Json first = JsonOf({"startup", upper, "ignored.jpg"});
  EXPECT_TRUE(first["first_run"].get<bool>());
  EXPECT_TRUE(first["essential_importers"].get<bool>());
  EXPECT_EQ(first["request"], (Json{{"kind", "open-catalog"}, {"paths", {upper}}}));
  EXPECT_EQ(first["scratch_folder"], (dir_ / "scratch").string());

  Json second = JsonOf({"startup", (dir_ / "a.jpg").string()});
  EXPECT_FALSE(second["first_run"].get<bool>());
  EXPECT_EQ(second["request"]["kind"], "add-files");
}

TEST_F(CliTest, MetadataOfEveryTestPhotoAgreesWithExiftool) {
  std::vector<std::string> files;
  for (const auto& e : fs::directory_iterator(kPhotos)) {
    if (e.is_regular_file()) files.push_back(e.path().string());
  }
  std::ranges::sort(files);
  Json ours = JsonOf(Plus({"metadata"}, files));
  ASSERT_EQ(ours.size(), files.size());
  for (const Json& file : ours) {
    EXPECT_EQ(Keys(file), (std::vector<std::string>{"file", "orientation", "color_profile", "fields", "annotations",
                                                    "items"}));
  }
  Json theirs = Exiftool("-n -charset iptc=cp1252 -EXIF:Make -EXIF:Model -EXIF:ISO -EXIF:DateTimeOriginal "
                         "-EXIF:Orientation", files);
  if (theirs.empty()) GTEST_SKIP() << "exiftool is not installed";
  ASSERT_EQ(theirs.size(), files.size());
  auto trimmed = [](std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
  };
  int compared = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(files[i]);
    const Json& fields = ours[i]["fields"];
    const Json& exif = theirs[i];
    auto ours_of = [&](const char* label) { return fields.value(label, std::string()); };
    if (exif.contains("Make")) {
      EXPECT_EQ(trimmed(ours_of("Maker")), trimmed(exif["Make"]));
      ++compared;
    }
    if (exif.contains("Model")) { EXPECT_EQ(trimmed(ours_of("Model")), trimmed(exif["Model"])); }
    if (exif.contains("ISO") && exif["ISO"].is_number()) { EXPECT_EQ(ours_of("ISO Speed"), exif["ISO"].dump()); }
    if (exif.contains("DateTimeOriginal") && exif["DateTimeOriginal"].get<std::string>().size() == 19) {
      std::string iso_date = exif["DateTimeOriginal"];
      iso_date[4] = iso_date[7] = '-';
      iso_date[10] = 'T';
      EXPECT_EQ(ours_of("Capture Date"), iso_date);
    }
    if (exif.contains("Orientation")) { EXPECT_EQ(ours[i]["orientation"], exif["Orientation"]); }
  }
  EXPECT_GE(compared, 7);
}

TEST_F(CliTest, AnnotateWritesWhatMetadataAndExiftoolReadBack) {
  const std::string photo = Photo("DSCN0010.jpg", "tree.jpg");
  // Without --json, annotate prints nothing.
  EXPECT_EQ(Ok({"annotate", photo, "Keywords=Tree; 'Park, north'; Z\xC3\xBCrich", "Caption=A tree", "Author=Ann",
                "Event Date=2024-03-05", "Labels=4"}),
            "");
  Json after = JsonOf({"metadata", photo}).at(0);
  EXPECT_EQ(after["annotations"]["Keywords"], (Json{"Tree", "Park, north", "Z\xC3\xBCrich"}));
  EXPECT_EQ(after["annotations"]["Caption"], Json{"A tree"});
  EXPECT_EQ(after["annotations"]["Labels"], Json{"4"});
  EXPECT_EQ(after["fields"]["Model"], "COOLPIX P6000");  // the EXIF facts are untouched

  // A second call changes one field and keeps the others.
  Ok({"annotate", photo, "Caption=", "City=Oslo"});
  Json again = JsonOf({"metadata", photo}).at(0)["annotations"];
  EXPECT_FALSE(again.contains("Caption"));
  EXPECT_EQ(again["City"], Json{"Oslo"});
  EXPECT_EQ(again["Keywords"].size(), 3u);

  Fails({"annotate", photo, "Shutter Speed=1/60"}, 1, "not an annotation field");
  Fails({"annotate", photo, "Event Date=someday"}, 1);

  // Fault: the XMP toolkit printed "XML parsing failure" on the terminal by
  // itself; its words belong in the one message line, the file left as it was.
  const std::string broken = (dir_ / "broken-xmp.jpg").string();
  {
    std::string bytes = ReadAll(photo);
    const std::string payload = std::string("http://ns.adobe.com/xap/1.0/") + '\0' +
                                "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF <<not xml";
    const std::size_t length = payload.size() + 2;
    const std::string segment = std::string("\xFF\xE1") + static_cast<char>(length >> 8) +
                                static_cast<char>(length & 0xFF) + payload;
    std::ofstream(broken, std::ios::binary) << bytes.substr(0, 2) + segment + bytes.substr(2);
  }
  const std::string before = ReadAll(broken);
  const CliResult refused = Fails({"annotate", broken, "Caption=x"}, 1, "(XML parsing failure) (error -2041)");
  EXPECT_EQ(std::count(refused.err.begin(), refused.err.end(), '\n'), 1) << refused.err;
  EXPECT_EQ(ReadAll(broken), before);

  Json theirs = Exiftool("-IPTC:Keywords -XMP-dc:Subject -IPTC:By-line -XMP-photoshop:City -IPTC:Caption-Abstract",
                         {photo});
  if (theirs.empty()) GTEST_SKIP() << "exiftool is not installed";
  const Json& tags = theirs.at(0);
  EXPECT_EQ(Values(tags, "Keywords").size(), 3u);
  EXPECT_EQ(Values(tags, "Subject").size(), 3u);
  EXPECT_EQ(Values(tags, "By-line"), std::vector<std::string>{"Ann"});
  EXPECT_EQ(Values(tags, "City"), std::vector<std::string>{"Oslo"});
  EXPECT_FALSE(tags.contains("Caption-Abstract"));
}

// The pixel size of a JPEG file from its frame header.
std::pair<int, int> JpegSize(const std::string& path) {
  std::string bytes = ReadAll(path);
  auto byte = [&](std::size_t at) { return static_cast<unsigned char>(bytes[at]); };
  for (std::size_t at = 2; at + 9 < bytes.size() && byte(at) == 0xFF;) {
    if (byte(at + 1) >= 0xC0 && byte(at + 1) <= 0xC3) {
      return {(byte(at + 7) << 8) | byte(at + 8), (byte(at + 5) << 8) | byte(at + 6)};
    }
    at += 2 + ((byte(at + 2) << 8) | byte(at + 3));
  }
  return {0, 0};
}

TEST_F(CliTest, ImportScansAFolderIntoItemsWithFactsAndThumbnails) {
  fs::path folder = dir_ / "shoot";
  fs::create_directories(folder / "sub");
  fs::copy(kPhotos, folder, fs::copy_options::recursive);
  std::ofstream(folder / "notes.txt") << "not media";
  std::ofstream(folder / ".hidden.jpg") << "";
  std::ofstream(folder / "empty.jpg").close();
  // A photo cut in its image data, and one cut inside its headers.
  std::string whole = ReadAll(kPhotos / "Canon_40D.jpg");
  std::ofstream(folder / "sub" / "headers.jpg", std::ios::binary) << whole.substr(0, 600);
  std::string big = ReadAll(kPhotos / "DSCN0010.jpg");
  std::ofstream(folder / "sub" / "cut.jpg", std::ios::binary) << big.substr(0, big.size() * 2 / 3);

  Ok({"new", catalog_});
  // The catalog keeps a Keywords index before the import: scanned items are
  // filed in it under the keywords their files carry.
  EXPECT_TRUE(JsonOf({"groups", catalog_, "Keywords"}).empty());
  Json report = JsonOf({"import", catalog_, folder.string(), "--jobs", "2"});
  Json items = List(catalog_);
  ASSERT_EQ(report["added"], items.size());
  EXPECT_EQ(report["scanned"].get<std::size_t>() + report["failed"].size(), report["added"]);
  // The photos cut inside their headers and inside their image data cannot
  // be read (no thumbnail is made up for the missing part).
  ASSERT_EQ(report["failed"].size(), 2u);
  for (const Json& failure : report["failed"]) {
    EXPECT_EQ(failure["error"], -8969);
    EXPECT_EQ(failure["message"], "Invalid media data");
  }

  std::vector<std::string> photos;
  for (const Json& item : items) {
    const std::string name = item["file_name"];
    SCOPED_TRACE(name);
    EXPECT_NE(name, "notes.txt");
    EXPECT_NE(name, ".hidden.jpg");
    EXPECT_FALSE(item["pending"].get<bool>());
    EXPECT_GT(item["file_size"], 0);
    if (name == "headers.jpg" || name == "cut.jpg") {
      // Fault: files that could not be read stayed pending for ever, with a
      // blank type and size 0, and every scan tried them again. They are
      // recorded with what could be learned and the error.
      EXPECT_EQ(item["scan_error"]["code"], -8969);
      EXPECT_EQ(item["type"], "JPEG");
      if (name == "cut.jpg") { EXPECT_GT(item["width"], 0); }  // its header was whole
      EXPECT_FALSE(item["thumbnail"].get<bool>());
      continue;
    }
    EXPECT_TRUE(item["scan_error"].is_null());
    EXPECT_TRUE(item["thumbnail"].get<bool>());
    EXPECT_GT(item["width"], 0);
    if (name.starts_with("landscape_")) {
      const char* codes[] = {"", "", "H ", "HV", "V ", "CF", "W ", "WF", "CW"};
      EXPECT_EQ(item["orientation"], codes[name[10] - '0']);
    }
    photos.push_back(item["path"].get<std::string>());
  }
  // Pixel sizes agree with exiftool's.
  for (const Json& t : Exiftool("-n -File:ImageWidth -File:ImageHeight -EXIF:ImageWidth -EXIF:ImageHeight", photos)) {
    for (const Json& item : items) {
      if (item["path"] != t["SourceFile"]) continue;
      SCOPED_TRACE(item["file_name"].get<std::string>());
      EXPECT_EQ(item["width"], t.value("ImageWidth", Json()));
      EXPECT_EQ(item["height"], t.value("ImageHeight", Json()));
    }
  }

  bool found = false;
  for (const Json& group : JsonOf({"groups", catalog_, "Keywords"})) {
    if (group["name"] == "Blue Square") found = group["items"].size() == 1;
  }
  EXPECT_TRUE(found) << "BlueSquare.jpg's keyword is not in the Keywords index";

  // The stored thumbnail comes out as a JPEG inside the catalog's box.
  const std::string thumb = (dir_ / "thumb.jpg").string();
  Ok({"thumbnail", catalog_, items.at(0)["id"].dump(), thumb});
  auto [w, h] = JpegSize(thumb);
  EXPECT_GT(w, 0);
  EXPECT_LE(std::max(w, h), 250);
  // Files that failed are not tried again while they are unchanged; scanning
  // again finds nothing to do and leaves the file alone.
  auto before = fs::last_write_time(catalog_);
  Json again = JsonOf({"scan", catalog_});
  EXPECT_EQ(again["scanned"], 0);
  EXPECT_TRUE(again["failed"].empty());
  EXPECT_EQ(Ok({"scan", catalog_}), "0 scanned, 0 could not be read\n");
  EXPECT_EQ(fs::last_write_time(catalog_), before);
}

TEST_F(CliTest, PreviewIsUprightAndFitsItsSize) {
  const std::string out = (dir_ / "preview.jpg").string();
  // Orientation 6: stored on its side, shown turned; the landscape photo
  // comes out wider than high.
  Ok({"preview", (kPhotos / "orientation" / "landscape_6.jpg").string(), out, "--size", "120"});
  auto [w, h] = JpegSize(out);
  EXPECT_EQ(std::max(w, h), 120);
  EXPECT_GT(w, h);
  Fails({"preview", (dir_ / "none.jpg").string(), out}, 1, "(error -43)");
}

TEST_F(CliTest, ImportOptionsFilterWhatIsImported) {
  Ok({"new", catalog_});
  Json options = JsonOf({"import-options", catalog_});
  EXPECT_EQ(Keys(options), (std::vector<std::string>{"class_mask", "ignore_shortcuts", "ignore_invisible", "filters"}));
  EXPECT_FALSE(options["filters"]["size"]["enabled"].get<bool>());
  // Only files larger than 100 KB (operator 3, "is greater than"); setting
  // without --json prints nothing.
  EXPECT_EQ(Ok({"import-options", catalog_, "--set-json", R"({"filters": {"size": {"enabled": true, "op": 3}}})"}), "");
  Json set = JsonOf({"import-options", catalog_, "--set-json", R"({"filters": {"size": {"kb": 100}}})"});
  EXPECT_TRUE(set["filters"]["size"]["enabled"].get<bool>());
  EXPECT_EQ(JsonOf({"import-options", catalog_})["filters"]["size"]["kb"], 100);
  Ok({"import", catalog_, kPhotos.string(), "--no-scan"});
  Json items = List(catalog_);
  ASSERT_FALSE(items.empty());
  for (const Json& item : items) {
    EXPECT_GT(fs::file_size(item["path"].get<std::string>()), 100u * 1024) << item["file_name"];
    EXPECT_TRUE(item["pending"].get<bool>());
  }
  for (const char* bad : {R"({"filters": {"size": {"op": 9}}})", "{not json", "[1]", R"({"class_mask": [{}]})"}) {
    Fails({"import-options", catalog_, "--set-json", bad}, 1);
  }
  // The options last set are what the next new catalog starts from.
  const std::string next = (dir_ / "next.nrk").string();
  Ok({"new", next});
  EXPECT_EQ(JsonOf({"import-options", next}), JsonOf({"import-options", catalog_}));
}

// Fault: a rebuild kept the catalog's old caption, keyword and city after
// another program had changed, removed and cleared them in the file. It
// reads the file afresh; only a field typed in the catalog and never
// written into the file keeps the user's value.
TEST_F(CliTest, RebuildFollowsTheFileExceptWhatTheUserTyped) {
  const std::string photo = Photo("Canon_40D.jpg", "p.jpg");
  Ok({"annotate", photo, "Caption=old caption", "Keywords=first, second", "City=Oslo", "Credit=kept"});
  Ok({"new", catalog_});
  Ok({"import", catalog_, photo});
  auto found = [&](const std::string& field, const std::string& value) {
    return JsonOf({"find", catalog_, "--where", field, "is", value}).size();
  };
  ASSERT_EQ(found("Caption", "old caption"), 1u);

  // The user types a credit in the catalog; another program then changes
  // the file.
  Ok({"annotate-item", catalog_, "1", "Credit=typed here"});
  auto exiftool_writes = [&](const std::string& arguments) {
    return std::system(("exiftool -q -overwrite_original " + arguments + " '" + photo + "'").c_str());
  };
  ASSERT_EQ(exiftool_writes("'-IPTC:Caption-Abstract=new caption' '-XMP-dc:Description=new caption' "
                            "-IPTC:Keywords=first -XMP-dc:Subject=first -IPTC:City= -XMP-photoshop:City="),
            0);
  Ok({"rebuild", catalog_, "1"});
  EXPECT_EQ(found("Caption", "new caption"), 1u);
  EXPECT_EQ(found("Caption", "old caption"), 0u);
  EXPECT_EQ(found("Keywords", "second"), 0u);
  EXPECT_EQ(found("Keywords", "first"), 1u);
  EXPECT_EQ(found("City", "Oslo"), 0u);
  EXPECT_EQ(found("Credit", "typed here"), 1u);  // the user's, never written into the file
  // And it stays the user's through a second rebuild.
  Ok({"rebuild", catalog_, "1"});
  EXPECT_EQ(found("Credit", "typed here"), 1u);

  // Written into the file by sync, it is the file's: exiftool reads it, and
  // the next change another program makes wins at the next rebuild.
  EXPECT_EQ(Ok({"sync", catalog_, "1"}), "1: " + photo + "\n");
  EXPECT_EQ(Values(Exiftool("-IPTC:Credit", {photo}).at(0), "Credit"), std::vector<std::string>{"typed here"});
  ASSERT_EQ(exiftool_writes("-IPTC:Credit=changed -XMP-photoshop:Credit=changed"), 0);
  Ok({"rebuild", catalog_, "1"});
  EXPECT_EQ(found("Credit", "changed"), 1u);
}

// Fault: a label the user renamed "Urgent" in the settings was not found by
// that name.
TEST_F(CliTest, QuickSearchFindsLabelsByTheNamesTheUserGave) {
  norvo::app::Labels labels = norvo::app::DefaultLabels();
  labels[1].name = "Urgent";  // label 2
  const auto bytes = norvo::app::LabelsToBytes(labels);
  const fs::path block = dir_ / "labels.bin";
  std::ofstream(block, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
  Ok({"settings", "put", "LABL", "1", block.string()});
  NewCatalog({Photo("Canon_40D.jpg", "a.jpg"), Photo("Nikon_D70.jpg", "b.jpg")});
  Ok({"label", catalog_, "2", "2"});
  EXPECT_EQ(Ok({"find", catalog_, "urgent"}), "2\n");
}

}  // namespace
