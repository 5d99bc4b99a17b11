// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/command_table.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

namespace norvo::app {
namespace {

std::vector<std::string> Keys(std::string_view keys) {
  std::vector<std::string> out;
  while (!keys.empty()) {
    const std::size_t end = keys.find("; ");
    out.emplace_back(keys.substr(0, end));
    keys = end == std::string_view::npos ? std::string_view{} : keys.substr(end + 2);
  }
  return out;
}

// A shortcut given to two commands would run only one of them; an id given
// twice would leave one command without its handler.
TEST(CommandTable, IdsAndShortcutsAreEachGivenOnce) {
  std::set<std::string_view> ids;
  std::map<std::string, std::string_view> owner;
  for (const CommandSpec& c : CommandTable()) {
    EXPECT_TRUE(ids.insert(c.id).second) << c.id;
    for (const std::string& key : Keys(c.keys)) {
      auto [it, fresh] = owner.emplace(key, c.id);
      EXPECT_TRUE(fresh) << key << " belongs to " << it->second << " and " << c.id;
    }
    if (c.kind == EntryKind::kCommand) {
      EXPECT_FALSE(c.label.empty()) << c.id;
    }
    EXPECT_EQ(FindCommand(c.id), &c);
  }
  EXPECT_EQ(FindCommand("no.such"), nullptr);
}

// The rules, seen from the states a user meets: no catalog, an empty one,
// one with a selection, one opened for viewing only.
TEST(CommandTable, EnablingFollowsTheActiveWindowsState) {
  const CommandState none;
  CommandState empty{.catalog = true, .writable = true};
  CommandState selected = empty;
  selected.items = 5;
  selected.selected = 2;
  CommandState viewing = selected;
  viewing.writable = false;
  viewing.changed = true;

  auto enabled = [](std::string_view id, const CommandState& s) { return CommandEnabled(*FindCommand(id), s); };
  EXPECT_TRUE(enabled("file.new", none));
  EXPECT_TRUE(enabled("file.open", none));
  EXPECT_FALSE(enabled("file.close", none));
  EXPECT_TRUE(enabled("file.close", empty));
  EXPECT_FALSE(enabled("edit.select_all", empty));
  EXPECT_TRUE(enabled("edit.select_all", selected));
  EXPECT_TRUE(enabled("view.rotate_cw", selected));
  EXPECT_FALSE(enabled("view.rotate_cw", viewing));  // a catalog opened for viewing is not changed
  EXPECT_TRUE(enabled("edit.copy", viewing));
  EXPECT_FALSE(enabled("file.save", viewing));
  EXPECT_FALSE(enabled("action.show_file", selected));  // two items: which file?
  selected.selected = 1;
  EXPECT_TRUE(enabled("action.show_file", selected));
  EXPECT_FALSE(enabled("view.move_again", selected));
  selected.move_again = true;
  EXPECT_TRUE(enabled("view.move_again", selected));

  // Entries without an action, headers and separators are never enabled.
  CommandState everything = selected;
  everything.changed = everything.titled = everything.running_tasks = everything.hidden_items = true;
  everything.previous_state = everything.next_state = everything.repeat_find = everything.playable = true;
  everything.undo = everything.paste = true;
  for (const CommandSpec& c : CommandTable()) {
    const bool can = CommandEnabled(c, everything);
    EXPECT_EQ(can, c.kind == EntryKind::kCommand && c.needs != Needs::kNever) << c.id;
  }
  EXPECT_FALSE(enabled("make.slide_movie", everything));
}

}  // namespace
}  // namespace norvo::app
