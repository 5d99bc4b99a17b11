// SPDX-License-Identifier: GPL-3.0-or-later
// Every command of the desktop program in one table: its stable id, the
// menu (and submenu) it stands in, its label with the mnemonic marked by
// "&", its shortcuts, and the rule that enables it. The menu bar, the
// context menus and the toolbar are built from this table, and enabling is
// computed from the active window's state by CommandEnabled.
//
// An entry the program has no action for ("Save Slide Show as Movie") is
// listed with Needs::kNever: it stands in its menu, always disabled.
//
// No Qt here, so that the table and its rules are checked without widgets.
#pragma once

#include <span>
#include <string_view>

namespace norvo::app {

// The nine menus of the menu bar, in order.
enum class Menu : unsigned char { kFile, kEdit, kFind, kView, kAction, kMake, kWindow, kPlay, kHelp };

// What an entry of the table is.
enum class EntryKind : unsigned char {
  kCommand,    // a command with a handler
  kHeader,     // a disabled label heading the entries below it
  kSeparator,  // a line between groups
  kDynamic,    // a placeholder filled at run time (recent files, sort fields, windows)
};

// What the active window must have for a command to be enabled.
enum class Needs : unsigned char {
  kNothing,         // always enabled
  kCatalog,         // a catalog window
  kItems,           // a catalog with at least one item
  kSelection,       // at least one selected item
  kOneSelected,     // exactly one selected item
  kWritable,        // a catalog that may be changed
  kWritableSelection,
  kChanged,         // unsaved changes in a titled catalog
  kTitled,          // a catalog with a file
  kRunningTasks,    // a scan or watch running
  kHiddenItems,     // some items hidden
  kPreviousState,   // a show state to go back to
  kNextState,       // a show state to go forward to
  kRepeatFind,      // a Find or Go To to repeat
  kMoveAgain,       // a Move to Location to repeat
  kMediaView,       // the media view showing an item that plays
  kUndo,            // an edit to undo
  kPaste,           // the clipboard holds a list to paste
  kNever,           // no action: listed, always disabled
};

// The state CommandEnabled looks at; the main window fills it from the
// active catalog window.
struct CommandState {
  bool catalog = false;
  bool writable = false;
  bool titled = false;
  bool changed = false;
  int items = 0;
  int selected = 0;
  bool running_tasks = false;
  bool hidden_items = false;
  bool previous_state = false;
  bool next_state = false;
  bool repeat_find = false;
  bool move_again = false;
  bool playable = false;
  bool undo = false;
  bool paste = false;
};

struct CommandSpec {
  std::string_view id = {};  // stable: "file.save"; handlers are registered by it
  Menu menu = Menu::kFile;
  std::string_view submenu = {};  // label of the submenu it stands in; empty: the menu itself
  std::string_view label = {};    // with "&" before the mnemonic
  std::string_view keys = {};     // shortcuts, the one shown first, separated by "; "
  Needs needs = Needs::kNothing;
  EntryKind kind = EntryKind::kCommand;
  bool checkable = false;
  bool context = false;      // also in the item context menu
  std::string_view toolbar = {};  // name of its toolbar picture; empty: not on the toolbar
};

// The whole table, in menu order.
std::span<const CommandSpec> CommandTable();
// The menu bar's labels, in order.
std::span<const std::string_view> MenuLabels();
// The entry with `id`, or nullptr.
const CommandSpec* FindCommand(std::string_view id);
// Whether the command can run in `state` (never for a kNever command or an
// entry that is not a command).
bool CommandEnabled(const CommandSpec& command, const CommandState& state);

// The colour label names in menu order (label numbers 1 to 9).
std::span<const std::string_view> ColourLabelNames();

}  // namespace norvo::app
