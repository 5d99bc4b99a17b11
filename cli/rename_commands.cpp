// SPDX-License-Identifier: GPL-3.0-or-later
// norvo-cli commands of the batch rename.
#include <charconv>
#include <cstdint>
#include <string>
#include <vector>

#include "app/messages.h"
#include "cli/catalog_session.h"
#include "cli/command_table.h"
#include "cli/output.h"
#include "output/batch_rename.h"
#include "platform/unicode_text.h"

namespace norvo::cli {
namespace {

using output::RenameMode;
using output::RenameOutcome;
using output::RenameSettings;
using output::RenameStatus;

// The options of each mode; one of another mode is a usage error.
struct ModeOptions {
  std::string_view mode;
  RenameMode value;
  std::vector<std::string_view> options;
};
const std::vector<ModeOptions>& Modes() {
  static const std::vector<ModeOptions> modes = {
      {"number", RenameMode::kIncremental, {"--base", "--start", "--no-pad"}},
      {"replace", RenameMode::kReplaceString, {"--find", "--with", "--case-sensitive"}},
      {"add", RenameMode::kAddString, {"--text", "--at"}},
      {"case", RenameMode::kConvert, {"--to"}},
  };
  return modes;
}

bool Given(const Invocation& inv, std::string_view option) {
  return inv.flag(option) || inv.value(option).has_value();
}

// A text option's value, at most as long as the dialog's text box takes.
std::string Text(const Invocation& inv, std::string_view option) {
  std::string text = inv.value(option).value_or("");
  if (CharacterCount(text) > output::kMaxRenameTextCharacters) {
    throw UsageError{std::string(option) + " takes at most " + std::to_string(output::kMaxRenameTextCharacters) +
                     " characters"};
  }
  return text;
}

// One of `choices`, or a usage error naming them.
std::size_t Choice(const Invocation& inv, std::string_view option, const std::vector<std::string_view>& choices,
                   std::size_t absent) {
  std::optional<std::string> text = inv.value(option);
  if (!text) return absent;
  for (std::size_t i = 0; i < choices.size(); ++i) {
    if (*text == choices[i]) return i;
  }
  std::string list;
  for (std::string_view c : choices) list += (list.empty() ? "" : ", ") + std::string(c);
  throw UsageError{std::string(option) + " takes one of " + list};
}

// Any whole number: the start-number rule takes what is below 2 or too
// large, as the dialog does. Digits beyond a long long count as too large.
long long StartNumberText(const std::string& text) {
  long long value = 0;
  const char* begin = text.data();
  const char* end = begin + text.size();
  auto [ptr, ec] = std::from_chars(begin, end, value);
  if (ec == std::errc::result_out_of_range && ptr == end) return text[0] == '-' ? 0 : output::kMaxStartNumber;
  if (ec != std::errc() || ptr != end) throw UsageError{"--start takes a whole number"};
  return value;
}

RenameSettings SettingsFrom(const Invocation& inv, int item_count) {
  std::optional<std::string> mode_name = inv.value("--mode");
  const ModeOptions* mode = nullptr;
  for (const ModeOptions& m : Modes()) {
    if (mode_name == m.mode) mode = &m;
  }
  if (mode == nullptr) throw UsageError{"give --mode number, replace, add or case"};
  for (const ModeOptions& other : Modes()) {
    if (&other == mode) continue;
    for (std::string_view option : other.options) {
      if (Given(inv, option)) throw UsageError{std::string(option) + " goes with --mode " + std::string(other.mode)};
    }
  }
  RenameSettings s;
  s.mode = mode->value;
  s.keep_extension = Choice(inv, "--keep-extension", {"yes", "no"}, 0) == 0;
  switch (mode->value) {
    case RenameMode::kIncremental:
      s.base_text = Text(inv, "--base");
      s.zero_pad = !inv.flag("--no-pad");
      output::StartNumbering(s, inv.value("--start") ? StartNumberText(*inv.value("--start")) : 1, item_count);
      break;
    case RenameMode::kReplaceString:
      if (!inv.value("--find")) throw UsageError{"--mode replace needs --find TEXT"};
      s.search_text = Text(inv, "--find");
      s.replacement_text = Text(inv, "--with");
      s.case_sensitive = inv.flag("--case-sensitive");
      break;
    case RenameMode::kAddString:
      if (!inv.value("--text")) throw UsageError{"--mode add needs --text TEXT"};
      s.added_text = Text(inv, "--text");
      s.position = static_cast<output::AddPosition>(Choice(inv, "--at", {"start", "end", "before-extension"}, 0));
      break;
    case RenameMode::kConvert:
      if (!inv.value("--to")) throw UsageError{"--mode case needs --to lower or --to upper"};
      s.name_case = static_cast<output::NameCase>(Choice(inv, "--to", {"lower", "upper"}, 0));
      break;
  }
  return s;
}

std::string_view StatusName(RenameStatus status) {
  switch (status) {
    case RenameStatus::kRenamed: return "renamed";
    case RenameStatus::kUnchanged: return "unchanged";
    case RenameStatus::kSkipped: return "skipped";
    case RenameStatus::kFailed: return "failed";
  }
  return "failed";
}

Json OutcomeJson(const RenameOutcome& o) {
  Json item = Json::object();
  item["id"] = o.item_id;
  item["old_name"] = o.old_name.empty() ? Json(nullptr) : Json(o.old_name);
  item["new_name"] = o.new_name.empty() ? Json(nullptr) : Json(o.new_name);
  item["result"] = StatusName(o.status);
  item["error"] = o.error == err::kNone ? Json(nullptr) : Json(o.error);
  return item;
}

Result CmdRename(const Invocation& inv, std::ostream& out) {
  const bool dry_run = inv.flag("--dry-run");
  const std::vector<std::string> id_texts(inv.operands.begin() + 1, inv.operands.end());
  RenameSettings settings = SettingsFrom(inv, static_cast<int>(id_texts.size()));

  Session s;
  if (Result r = s.open(inv.operands[0], inv, dry_run ? Intent::kView : Intent::kChange)) return r;
  catalog::Catalog& c = s.catalog();
  std::vector<std::uint32_t> ids;
  for (const std::string& text : id_texts) {
    int cell = 0;
    if (Result r = FindCell(c, text, &cell)) return r;
    ids.push_back(c.cells[static_cast<std::size_t>(cell - 1)].item_id);
  }
  std::vector<RenameOutcome> outcomes;
  const ErrorCode e = output::BatchRename(c, ids, settings, dry_run ? output::RenameRun::kDryRun
                                                                    : output::RenameRun::kForReal,
                                          {}, &outcomes);
  if (e != err::kNone) {
    // The catalog could not follow: the files renamed so far get their
    // names back, so that catalog and disk agree.
    (void)output::UndoRenames(c, outcomes);  // the first failure is what is reported
    return FailWith(e, app::Activity::kOther);
  }
  const bool renamed = std::any_of(outcomes.begin(), outcomes.end(),
                                   [](const RenameOutcome& o) { return o.status == RenameStatus::kRenamed; });
  if (renamed && !dry_run) {
    if (Result r = s.save()) {
      (void)output::UndoRenames(c, outcomes);  // the save's failure is what is reported
      return r;
    }
  }

  Json items = Json::array();
  for (const RenameOutcome& o : outcomes) items.push_back(OutcomeJson(o));
  if (inv.json) {
    PrintJson(out, items);
    return std::nullopt;
  }
  auto result = [](const Json& item) {
    std::string text = item["result"].get<std::string>();
    if (!item["error"].is_null()) text += " (" + std::to_string(item["error"].get<int>()) + ")";
    return text;
  };
  PrintTable(out, items, {MemberColumn("ID", "id", true), {"RESULT", false, result}, MemberColumn("OLD NAME", "old_name"),
                          MemberColumn("NEW NAME", "new_name")});
  return std::nullopt;
}

}  // namespace

std::vector<CommandEntry> RenameCommands() {
  using groups::kOutput;
  return {
      {"rename", kOutput, "CATALOG ID...", 2, SIZE_MAX,
       {{"--mode", "MODE", "number, replace, add or case"},
        {"--base", "TEXT", "number: the text before the number"},
        {"--start", "N", "number: the first number (below 2: 1; at most 1000000000)"},
        {"--no-pad", "", "number: no zeros before shorter numbers"},
        {"--find", "TEXT", "replace: the text to find (first match only)"},
        {"--with", "TEXT", "replace: the text to put in its place"},
        {"--case-sensitive", "", "replace: find the text in this case only"},
        {"--text", "TEXT", "add: the text to add"},
        {"--at", "WHERE", "add: start, end or before-extension (default start)"},
        {"--to", "CASE", "case: lower or upper"},
        {"--keep-extension", "yes|no", "number: end the new name with the old extension (default yes)"},
        {"--dry-run", "", "show the new names and change nothing"},
        kJsonOption},
       "rename items' files and point the items at them",
       "Renames the files of the items with these ItemIds, in catalog order, and points each item at its new "
       "name. --mode number names them TEXT and a number from N (zero-padded to the widest number); "
       "--mode replace replaces the first match of --find (ignoring case unless --case-sensitive); "
       "--mode add adds --text at the start, the end or before the extension; --mode case changes the name "
       "to lower or upper case. Texts are at most 30 characters. A file with the new name is never replaced: "
       "the number is passed over, other modes leave that item; a missing file is skipped. Prints each item's "
       "old and new name and its result (renamed, unchanged, skipped or failed with its error code), and "
       "saves the catalog. With --dry-run nothing is renamed or saved.",
       CmdRename},
  };
}

}  // namespace norvo::cli
