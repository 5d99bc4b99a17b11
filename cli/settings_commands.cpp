// SPDX-License-Identifier: GPL-3.0-or-later
// norvo-cli commands of the settings store (settings, prefs).
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>

#include "app/preferences.h"
#include "app/settings_store.h"
#include "cli/command_table.h"
#include "cli/output.h"
#include "platform/byte_io.h"
#include "platform/error_codes.h"
#include "platform/text_encoding.h"

namespace norvo::cli {
namespace {

constexpr std::size_t kCodeLength = 4;

// Opens the stores; what went wrong on the way (a database moved aside, say)
// goes to standard error, since the command itself still runs.
app::SettingsStore OpenStore() {
  app::SettingsStore store = app::SettingsStore::Open();
  for (const std::string& warning : store.warnings()) std::cerr << "norvo-cli: " << warning << '\n';
  return store;
}

// A four-character code: one to four Windows-1252 characters, padded with
// blanks on the right.
std::uint32_t ParseCode(const std::string& text) {
  bool lossless = true;
  std::string code = Utf8ToWindows1252(text, &lossless);
  if (code.empty() || code.size() > kCodeLength || !lossless) {
    throw UsageError{"'" + text + "' is not a four-character code"};
  }
  code.resize(kCodeLength, ' ');
  std::uint32_t value = 0;
  for (char c : code) value = (value << 8) | static_cast<std::uint8_t>(c);
  return value;
}

std::int32_t ParseIndex(const std::string& text) {
  std::int32_t value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end) throw UsageError{"'" + text + "' is not an index (a whole number)"};
  return value;
}

std::optional<app::ScreenSize> ParseScreen(const std::string& text) {
  const std::size_t x = text.find('x');
  app::ScreenSize size;
  if (x != std::string::npos) {
    const char* end = text.data() + text.size();
    auto [w_end, w_ec] = std::from_chars(text.data(), text.data() + x, size.width);
    auto [h_end, h_ec] = std::from_chars(text.data() + x + 1, end, size.height);
    if (w_ec == std::errc() && h_ec == std::errc() && w_end == text.data() + x && h_end == end && size.width > 0 &&
        size.height > 0) {
      return size;
    }
  }
  throw UsageError{"'" + text + "' is not a screen size (WIDTHxHEIGHT)"};
}

std::string SettingName(std::uint32_t code, std::int32_t index) {
  return "'" + Windows1252ToUtf8(FourCCToString(code)) + "' " + std::to_string(index);
}

Result NoSuchSetting(std::uint32_t code, std::int32_t index) {
  return FailWith(err::kFileNotFound, "There is no setting " + SettingName(code, index) + ".");
}

Result StoreFailed(ErrorCode e, std::uint32_t code, std::int32_t index) {
  return FailWith(e, "The setting " + SettingName(code, index) + " could not be stored.");
}

// --- commands ---------------------------------------------------------------

Result CmdSettings(const Invocation& inv, std::ostream& out) {
  const std::string& verb = inv.operands[0];
  const std::size_t wanted = verb == "put" ? 4 : 3;
  if (verb != "get" && verb != "put" && verb != "delete") {
    throw UsageError{"'" + verb + "' is not a settings action (get, put or delete)"};
  }
  if (inv.operands.size() != wanted) {
    throw UsageError{verb + " expected " + std::to_string(wanted) + " arguments, got " +
                     std::to_string(inv.operands.size())};
  }
  const std::uint32_t code = ParseCode(inv.operands[1]);
  const std::int32_t index = ParseIndex(inv.operands[2]);

  if (verb == "put") {
    // Read the whole file before touching the store, so that an unreadable
    // file changes nothing.
    const std::string& file = inv.operands[3];
    std::ifstream in(file, std::ios::binary);
    if (!in) return FailWith(err::kFileNotFound, "'" + file + "' cannot be read.");
    app::Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return FailWith(err::kIo, "'" + file + "' cannot be read.");
    app::SettingsStore store = OpenStore();
    ErrorCode e = app::PutSetting(store, code, index, bytes);
    if (e != err::kNone) return StoreFailed(e, code, index);
    return std::nullopt;
  }

  app::SettingsStore store = OpenStore();
  if (verb == "delete") {
    ErrorCode e = store.deleteValue(app::CodedKey(code), std::to_string(index));
    if (e == err::kFileNotFound) return NoSuchSetting(code, index);
    if (e != err::kNone) return StoreFailed(e, code, index);
    return std::nullopt;
  }
  std::optional<app::Bytes> value = app::GetSetting(store, code, index);
  if (!value) return NoSuchSetting(code, index);
  out.write(reinterpret_cast<const char*>(value->data()), static_cast<std::streamsize>(value->size()));
  return std::nullopt;
}

std::string OffsetKey(std::size_t offset) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%03zX", offset);
  return text;
}

Result CmdPrefs(const Invocation& inv, std::ostream& out) {
  std::optional<app::ScreenSize> screen;
  if (!inv.operands.empty()) screen = ParseScreen(inv.operands[0]);
  app::SettingsStore store = OpenStore();
  const app::LoadedPreferences loaded = app::LoadPreferences(store, screen);
  const app::PreferencesBlock& block = loaded.preferences;

  const app::WindowRect rect = block.windowRect();
  const Json window{{"top", rect.top}, {"left", rect.left}, {"bottom", rect.bottom}, {"right", rect.right}};
  Json prefs = Json::object();
  prefs["first_run"] = block.firstRun();
  // Members follow the offsets, so the window rectangle goes among the
  // fields of the table.
  for (const app::PreferenceField& f : app::PreferenceFields()) {
    if (!prefs.contains("window") && f.offset > app::pref::kWindowRect) prefs["window"] = window;
    prefs[OffsetKey(f.offset)] = block.field(f);
  }
  if (!prefs.contains("window")) prefs["window"] = window;
  prefs[OffsetKey(app::pref::kListCount)] = block.i32(app::pref::kListCount);
  Json& list = prefs["list"] = Json::array();
  for (const std::string& entry : block.listEntries()) list.push_back(Windows1252ToUtf8(entry));
  PrintObject(out, prefs, inv.json);
  return std::nullopt;
}

}  // namespace

std::vector<CommandEntry> SettingsCommands() {
  using groups::kSettings;
  return {
      {"settings", kSettings, "get|put|delete CODE INDEX [FILE]", 3, 4, {},
       "read, write or delete a coded setting",
       "Works on one coded setting of the user's settings store, named by its four-character code and index: "
       "`get` writes its raw bytes to standard output, `put` stores the bytes of FILE, `delete` removes it. "
       "A setting that is not there fails with error -43.",
       CmdSettings},
      {"prefs", kSettings, "[WIDTHxHEIGHT]", 0, 1, {kJsonOption}, "the preferences, as validated",
       "Shows the preferences as the program validates them: whether this is the first run, each field by "
       "its offset, the window placed for a screen of WIDTHxHEIGHT, and the list entries.",
       CmdPrefs},
  };
}

}  // namespace norvo::cli
