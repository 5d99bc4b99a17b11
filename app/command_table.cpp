// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/command_table.h"

#include <array>

namespace norvo::app {
namespace {

using M = Menu;
using N = Needs;
using K = EntryKind;

// Shortcut texts are Qt's portable key names ("Ctrl+Num+0" is the keypad
// digit). The first is the one the menu shows.
constexpr CommandSpec kCommands[] = {
    // File
    {.id = "file.new", .menu = M::kFile, .label = "&New", .keys = "Ctrl+N", .toolbar = "new"},
    {.id = "file.open", .menu = M::kFile, .label = "&Open...", .keys = "Ctrl+O", .toolbar = "open"},
    {.id = "file.recent", .menu = M::kFile, .submenu = "Open &Recent", .label = "", .kind = K::kDynamic},
    {.id = "file.close", .menu = M::kFile, .label = "&Close", .keys = "Ctrl+W; Ctrl+F4", .needs = N::kCatalog},
    {.id = "file.save", .menu = M::kFile, .label = "&Save", .keys = "Ctrl+S", .needs = N::kChanged, .toolbar = "save"},
    {.id = "file.save_as", .menu = M::kFile, .label = "Save &As...", .keys = "Ctrl+Shift+S", .needs = N::kCatalog},
    {.id = "file.revert", .menu = M::kFile, .label = "Re&vert", .needs = N::kChanged},
    {.id = "file.sep1", .menu = M::kFile, .label = "", .kind = K::kSeparator},
    {.id = "file.catalog_info", .menu = M::kFile, .label = "Catalog &Info...", .keys = "Ctrl+K", .needs = N::kCatalog},
    {.id = "file.sep2", .menu = M::kFile, .label = "", .kind = K::kSeparator},
    {.id = "file.import_options", .menu = M::kFile, .label = "I&mport Options...", .keys = "Ctrl+Shift+I",
     .needs = N::kWritable},
    {.id = "file.watch_folders", .menu = M::kFile, .label = "&Watch Folders...", .needs = N::kWritable},
    {.id = "file.import_files", .menu = M::kFile, .submenu = "Import I&tems", .label = "From &Files/Folders...",
     .keys = "Ctrl+I", .needs = N::kWritable, .toolbar = "import"},
    {.id = "file.import_camera", .menu = M::kFile, .submenu = "Import I&tems", .label = "From &Camera...",
     .keys = "Ctrl+Alt+I", .needs = N::kWritable},
    {.id = "file.cancel_tasks", .menu = M::kFile, .label = "Cancel Running Tas&ks", .keys = "Ctrl+Pause",
     .needs = N::kRunningTasks},
    {.id = "file.sep3", .menu = M::kFile, .label = "", .kind = K::kSeparator},
    {.id = "file.page_setup", .menu = M::kFile, .label = "Page Set&up...", .keys = "Ctrl+Shift+P",
     .needs = N::kCatalog},
    {.id = "file.print", .menu = M::kFile, .label = "&Print...", .keys = "Ctrl+P", .needs = N::kItems},
    {.id = "file.sep4", .menu = M::kFile, .label = "", .kind = K::kSeparator},
    {.id = "file.exit", .menu = M::kFile, .label = "E&xit", .keys = "Ctrl+Q"},

    // Edit
    {.id = "edit.undo", .menu = M::kEdit, .label = "&Undo", .keys = "Ctrl+Z", .needs = N::kUndo},
    {.id = "edit.sep1", .menu = M::kEdit, .label = "", .kind = K::kSeparator},
    {.id = "edit.cut", .menu = M::kEdit, .label = "Cu&t", .keys = "Ctrl+X; Shift+Del", .needs = N::kWritableSelection},
    {.id = "edit.copy", .menu = M::kEdit, .label = "&Copy", .keys = "Ctrl+C; Ctrl+Ins", .needs = N::kSelection},
    {.id = "edit.paste", .menu = M::kEdit, .label = "&Paste", .keys = "Ctrl+V; Shift+Ins", .needs = N::kPaste},
    {.id = "edit.delete", .menu = M::kEdit, .label = "&Delete", .keys = "Del", .needs = N::kWritableSelection},
    {.id = "edit.sep2", .menu = M::kEdit, .label = "", .kind = K::kSeparator},
    {.id = "edit.select_all", .menu = M::kEdit, .label = "Select &All", .keys = "Ctrl+A", .needs = N::kItems},
    {.id = "edit.deselect_all", .menu = M::kEdit, .label = "D&eselect All", .keys = "Ctrl+D", .needs = N::kSelection},
    {.id = "edit.invert_selection", .menu = M::kEdit, .label = "&Invert Selection", .needs = N::kItems},
    {.id = "edit.sep3", .menu = M::kEdit, .label = "", .kind = K::kSeparator},
    {.id = "edit.drop_folder", .menu = M::kEdit, .label = "Dr&op Folder...", .needs = N::kWritable},
    {.id = "edit.versions_folder", .menu = M::kEdit, .label = "&Versions Folder...", .needs = N::kTitled},
    {.id = "edit.sep4", .menu = M::kEdit, .label = "", .kind = K::kSeparator},
    {.id = "edit.preferences", .menu = M::kEdit, .label = "P&references...", .keys = "Ctrl+,"},

    // Find
    {.id = "find.show_all", .menu = M::kFind, .label = "Show &All", .keys = "Ctrl+E", .needs = N::kHiddenItems,
     .context = true},
    {.id = "find.show_hidden", .menu = M::kFind, .label = "Sho&w Hidden", .keys = "Ctrl+Alt+E",
     .needs = N::kHiddenItems},
    {.id = "find.show_selected", .menu = M::kFind, .label = "Show &Selected", .keys = "Ctrl+Shift+E",
     .needs = N::kSelection, .context = true},
    {.id = "find.hide_selected", .menu = M::kFind, .label = "&Hide Selected", .keys = "Ctrl+Shift+Alt+E",
     .needs = N::kSelection, .context = true},
    {.id = "find.previous_state", .menu = M::kFind, .label = "Show &Previous State", .keys = "Alt+Left",
     .needs = N::kPreviousState},
    {.id = "find.next_state", .menu = M::kFind, .label = "Show N&ext State", .keys = "Alt+Right",
     .needs = N::kNextState},
    {.id = "find.last_import", .menu = M::kFind, .label = "Show Last &Import", .needs = N::kItems},
    {.id = "find.duplicates", .menu = M::kFind, .label = "Show &Duplicates...", .needs = N::kItems},
    {.id = "find.labelled.any", .menu = M::kFind, .submenu = "Show &Labelled", .label = "Any Label",
     .needs = N::kItems},
    {.id = "find.labelled.none", .menu = M::kFind, .submenu = "Show &Labelled", .label = "No Label",
     .needs = N::kItems},
    {.id = "find.labelled.header", .menu = M::kFind, .submenu = "Show &Labelled", .label = "Labelled As:",
     .kind = K::kHeader},
    {.id = "find.labelled.1", .menu = M::kFind, .submenu = "Show &Labelled", .label = "Red", .needs = N::kItems},
    {.id = "find.labelled.2", .menu = M::kFind, .submenu = "Show &Labelled", .label = "Green", .needs = N::kItems},
    {.id = "find.labelled.3", .menu = M::kFind, .submenu = "Show &Labelled", .label = "Blue", .needs = N::kItems},
    {.id = "find.labelled.4", .menu = M::kFind, .submenu = "Show &Labelled", .label = "Brown", .needs = N::kItems},
    {.id = "find.labelled.5", .menu = M::kFind, .submenu = "Show &Labelled", .label = "Magenta", .needs = N::kItems},
    {.id = "find.labelled.6", .menu = M::kFind, .submenu = "Show &Labelled", .label = "Orange", .needs = N::kItems},
    {.id = "find.labelled.7", .menu = M::kFind, .submenu = "Show &Labelled", .label = "Yellow", .needs = N::kItems},
    {.id = "find.labelled.8", .menu = M::kFind, .submenu = "Show &Labelled", .label = "Cyan", .needs = N::kItems},
    {.id = "find.labelled.9", .menu = M::kFind, .submenu = "Show &Labelled", .label = "Gray", .needs = N::kItems},
    {.id = "find.sep1", .menu = M::kFind, .label = "", .kind = K::kSeparator},
    {.id = "find.find", .menu = M::kFind, .label = "&Find...", .keys = "Ctrl+F", .needs = N::kItems,
     .toolbar = "find"},
    {.id = "find.find_next", .menu = M::kFind, .label = "Find &Next", .keys = "Ctrl+Alt+F; F3",
     .needs = N::kRepeatFind},
    {.id = "find.goto", .menu = M::kFind, .label = "&Go To...", .keys = "Ctrl+G", .needs = N::kItems},
    {.id = "find.go_again", .menu = M::kFind, .label = "G&o Again", .keys = "Ctrl+Alt+G", .needs = N::kRepeatFind},
    {.id = "find.sep2", .menu = M::kFind, .label = "", .kind = K::kSeparator},
    {.id = "find.missing", .menu = M::kFind, .label = "Find &Missing Items", .needs = N::kItems},
    {.id = "find.reset_paths", .menu = M::kFind, .label = "&Reset Paths...", .needs = N::kWritableSelection},

    // View
    {.id = "view.actual_size", .menu = M::kView, .label = "&Actual Size", .keys = "Ctrl+0; Ctrl+Num+0",
     .needs = N::kCatalog},
    {.id = "view.zoom_in", .menu = M::kView, .label = "Zoom &In", .keys = "Ctrl++; Ctrl+=; Ctrl+Num++",
     .needs = N::kCatalog, .toolbar = "zoom_in"},
    {.id = "view.zoom_out", .menu = M::kView, .label = "Zoom &Out", .keys = "Ctrl+-; Ctrl+Num+-",
     .needs = N::kCatalog, .toolbar = "zoom_out"},
    {.id = "view.sep1", .menu = M::kView, .label = "", .kind = K::kSeparator},
    {.id = "view.rotate_cw", .menu = M::kView, .label = "Rotate 90\xC2\xB0 &CW", .keys = "Ctrl+]",
     .needs = N::kWritableSelection, .context = true, .toolbar = "rotate_cw"},
    {.id = "view.rotate_ccw", .menu = M::kView, .label = "Rotate 90\xC2\xB0 CC&W", .keys = "Ctrl+[",
     .needs = N::kWritableSelection, .context = true, .toolbar = "rotate_ccw"},
    {.id = "view.flip_vertical", .menu = M::kView, .label = "Flip &Vertical", .needs = N::kWritableSelection,
     .context = true},
    {.id = "view.flip_horizontal", .menu = M::kView, .label = "Flip &Horizontal", .needs = N::kWritableSelection,
     .context = true},
    {.id = "view.default_orientation", .menu = M::kView, .label = "&Default Orientation",
     .needs = N::kWritableSelection, .context = true},
    {.id = "view.sep2", .menu = M::kView, .label = "", .kind = K::kSeparator},
    {.id = "view.move_top", .menu = M::kView, .label = "Move to &Top", .keys = "Ctrl+Alt+Up",
     .needs = N::kWritableSelection, .context = true},
    {.id = "view.move_bottom", .menu = M::kView, .label = "Move to &Bottom", .keys = "Ctrl+Alt+Down",
     .needs = N::kWritableSelection, .context = true},
    {.id = "view.move_location", .menu = M::kView, .label = "Move to &Location", .keys = "Ctrl+L",
     .needs = N::kWritableSelection, .context = true},
    {.id = "view.move_again", .menu = M::kView, .label = "Mov&e Again", .keys = "Ctrl+Shift+L",
     .needs = N::kMoveAgain, .context = true},
    {.id = "view.sep3", .menu = M::kView, .label = "", .kind = K::kSeparator},
    {.id = "view.sort", .menu = M::kView, .submenu = "&Sort", .label = "", .kind = K::kDynamic},
    {.id = "view.invert_sort", .menu = M::kView, .label = "I&nvert Sort Order", .keys = "Ctrl+;",
     .needs = N::kWritable},

    // Action
    {.id = "action.rebuild", .menu = M::kAction, .label = "Rebuild &Item", .keys = "Ctrl+B",
     .needs = N::kWritableSelection},
    {.id = "action.rename", .menu = M::kAction, .label = "Batch &Rename...", .needs = N::kWritableSelection},
    {.id = "action.sep1", .menu = M::kAction, .label = "", .kind = K::kSeparator},
    {.id = "action.trash", .menu = M::kAction, .label = "Move to Recycle &Bin", .keys = "Ctrl+Del",
     .needs = N::kWritableSelection, .context = true},
    {.id = "action.transfer", .menu = M::kAction, .label = "Transfer to Folder...", .needs = N::kSelection,
     .context = true},
    {.id = "action.sep2", .menu = M::kAction, .label = "", .kind = K::kSeparator},
    {.id = "action.show_file", .menu = M::kAction, .label = "Show Media &File", .needs = N::kOneSelected,
     .context = true},
    {.id = "action.open_with", .menu = M::kAction, .submenu = "O&pen With", .label = "", .kind = K::kDynamic},
    {.id = "action.open_default", .menu = M::kAction, .submenu = "O&pen With",
     .label = "&Open With Default Application", .needs = N::kSelection},

    // Make
    {.id = "make.slide_show", .menu = M::kMake, .label = "&Run Slide Show", .keys = "Ctrl+R", .needs = N::kItems},
    {.id = "make.slide_options", .menu = M::kMake, .label = "&Slide Show Options...", .keys = "Ctrl+Shift+R",
     .needs = N::kCatalog},
    {.id = "make.slide_movie", .menu = M::kMake, .label = "S&ave Slide Show as Movie...", .needs = N::kNever},
    {.id = "make.sep1", .menu = M::kMake, .label = "", .kind = K::kSeparator},
    {.id = "make.backup", .menu = M::kMake, .label = "&Backup/CD-ROM...", .needs = N::kItems},
    {.id = "make.gallery", .menu = M::kMake, .label = "&HTML Gallery...", .needs = N::kItems},
    {.id = "make.sep2", .menu = M::kMake, .label = "", .kind = K::kSeparator},
    {.id = "make.convert_images", .menu = M::kMake, .label = "Convert &Image Files...", .needs = N::kItems},
    {.id = "make.convert_sounds", .menu = M::kMake, .label = "Convert S&ound Files...", .needs = N::kItems},
    {.id = "make.convert_movies", .menu = M::kMake, .label = "Convert &Movie Files...", .needs = N::kItems},

    // Window
    {.id = "window.toolbar", .menu = M::kWindow, .label = "&Toolbar", .keys = "Ctrl+T", .checkable = true},
    {.id = "window.sep1", .menu = M::kWindow, .label = "", .kind = K::kSeparator},
    {.id = "window.list_view", .menu = M::kWindow, .label = "&List View", .keys = "Ctrl+1; Ctrl+Num+1",
     .needs = N::kCatalog, .checkable = true, .toolbar = "list_view"},
    {.id = "window.thumbnail_view", .menu = M::kWindow, .label = "Thum&bnail View", .keys = "Ctrl+2; Ctrl+Num+2",
     .needs = N::kCatalog, .checkable = true, .toolbar = "thumbnail_view"},
    {.id = "window.media_view", .menu = M::kWindow, .label = "&Media View", .keys = "Ctrl+3; Ctrl+Num+3; Alt+/",
     .needs = N::kCatalog, .checkable = true, .toolbar = "media_view"},
    {.id = "window.sep2", .menu = M::kWindow, .label = "", .kind = K::kSeparator},
    {.id = "window.info_panel", .menu = M::kWindow, .label = "&Info Panel", .keys = "Ctrl+4; Ctrl+Num+4",
     .needs = N::kCatalog, .checkable = true, .toolbar = "info_panel"},
    {.id = "window.organize_panel", .menu = M::kWindow, .label = "&Organize Panel", .keys = "Ctrl+5; Ctrl+Num+5",
     .needs = N::kCatalog, .checkable = true, .toolbar = "organize_panel"},
    {.id = "window.sep3", .menu = M::kWindow, .label = "", .kind = K::kSeparator},
    {.id = "window.tile_vertical", .menu = M::kWindow, .label = "Tile &Vertically", .needs = N::kCatalog},
    {.id = "window.tile_horizontal", .menu = M::kWindow, .label = "Tile &Horizontally", .needs = N::kCatalog},
    {.id = "window.cascade", .menu = M::kWindow, .label = "C&ascade", .needs = N::kCatalog},
    {.id = "window.list", .menu = M::kWindow, .label = "", .kind = K::kDynamic},

    // Play
    {.id = "play.play", .menu = M::kPlay, .label = "&Play (space)", .needs = N::kMediaView},
    {.id = "play.playlist", .menu = M::kPlay, .label = "Playlist M&ode", .needs = N::kCatalog, .checkable = true},
    {.id = "play.header", .menu = M::kPlay, .label = "Stills Pause:", .kind = K::kHeader},
    {.id = "play.pause_short", .menu = M::kPlay, .label = "&Short", .needs = N::kCatalog, .checkable = true},
    {.id = "play.pause_medium", .menu = M::kPlay, .label = "&Medium", .needs = N::kCatalog, .checkable = true},
    {.id = "play.pause_long", .menu = M::kPlay, .label = "&Long", .needs = N::kCatalog, .checkable = true},

    // Help
    {.id = "help.importers", .menu = M::kHelp, .label = "&Media Importers..."},
    {.id = "help.getting_started", .menu = M::kHelp, .label = "Getting Started..."},
    {.id = "help.check_updates", .menu = M::kHelp, .label = "Check for &Updates..."},
    {.id = "help.sep1", .menu = M::kHelp, .label = "", .kind = K::kSeparator},
    {.id = "help.about", .menu = M::kHelp, .label = "&About Norvo Media..."},

    // The item context menu's label choices (not in the menu bar).
    {.id = "label.0", .menu = M::kAction, .submenu = "Assign Label", .label = "Remove Label [0]",
     .keys = "Ctrl+Alt+0", .needs = N::kWritableSelection, .context = true},
    {.id = "label.header", .menu = M::kAction, .submenu = "Assign Label", .label = "Assign Label:",
     .kind = K::kHeader, .context = true},
    {.id = "label.1", .menu = M::kAction, .submenu = "Assign Label", .label = "Red", .keys = "Ctrl+Alt+1",
     .needs = N::kWritableSelection, .context = true},
    {.id = "label.2", .menu = M::kAction, .submenu = "Assign Label", .label = "Green", .keys = "Ctrl+Alt+2",
     .needs = N::kWritableSelection, .context = true},
    {.id = "label.3", .menu = M::kAction, .submenu = "Assign Label", .label = "Blue", .keys = "Ctrl+Alt+3",
     .needs = N::kWritableSelection, .context = true},
    {.id = "label.4", .menu = M::kAction, .submenu = "Assign Label", .label = "Brown", .keys = "Ctrl+Alt+4",
     .needs = N::kWritableSelection, .context = true},
    {.id = "label.5", .menu = M::kAction, .submenu = "Assign Label", .label = "Magenta", .keys = "Ctrl+Alt+5",
     .needs = N::kWritableSelection, .context = true},
    {.id = "label.6", .menu = M::kAction, .submenu = "Assign Label", .label = "Orange", .keys = "Ctrl+Alt+6",
     .needs = N::kWritableSelection, .context = true},
    {.id = "label.7", .menu = M::kAction, .submenu = "Assign Label", .label = "Yellow", .keys = "Ctrl+Alt+7",
     .needs = N::kWritableSelection, .context = true},
    {.id = "label.8", .menu = M::kAction, .submenu = "Assign Label", .label = "Cyan", .keys = "Ctrl+Alt+8",
     .needs = N::kWritableSelection, .context = true},
    {.id = "label.9", .menu = M::kAction, .submenu = "Assign Label", .label = "Gray", .keys = "Ctrl+Alt+9",
     .needs = N::kWritableSelection, .context = true},
};

constexpr std::array<std::string_view, 9> kMenuLabels = {"&File", "&Edit", "F&ind", "&View", "&Action",
                                                         "&Make", "&Window", "&Play", "&Help"};

constexpr std::array<std::string_view, 9> kColourLabels = {"Red",     "Green",  "Blue", "Brown", "Magenta",
                                                           "Orange",  "Yellow", "Cyan", "Gray"};

}  // namespace

std::span<const CommandSpec> CommandTable() { return kCommands; }

std::span<const std::string_view> MenuLabels() { return kMenuLabels; }

std::span<const std::string_view> ColourLabelNames() { return kColourLabels; }

const CommandSpec* FindCommand(std::string_view id) {
  for (const CommandSpec& c : kCommands) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

bool CommandEnabled(const CommandSpec& command, const CommandState& s) {
  if (command.kind != EntryKind::kCommand) return false;
  switch (command.needs) {
    case Needs::kNothing: return true;
    case Needs::kCatalog: return s.catalog;
    case Needs::kItems: return s.catalog && s.items > 0;
    case Needs::kSelection: return s.catalog && s.selected > 0;
    case Needs::kOneSelected: return s.catalog && s.selected == 1;
    case Needs::kWritable: return s.catalog && s.writable;
    case Needs::kWritableSelection: return s.catalog && s.writable && s.selected > 0;
    case Needs::kChanged: return s.catalog && s.writable && s.changed;
    case Needs::kTitled: return s.catalog && s.titled;
    case Needs::kRunningTasks: return s.catalog && s.running_tasks;
    case Needs::kHiddenItems: return s.catalog && s.hidden_items;
    case Needs::kPreviousState: return s.catalog && s.previous_state;
    case Needs::kNextState: return s.catalog && s.next_state;
    case Needs::kRepeatFind: return s.catalog && s.repeat_find;
    case Needs::kMoveAgain: return s.catalog && s.writable && s.move_again && s.selected > 0;
    case Needs::kMediaView: return s.catalog && s.playable;
    case Needs::kUndo: return s.catalog && s.undo;
    case Needs::kPaste: return s.catalog && s.writable && s.paste;
    case Needs::kNever: return false;
  }
  return false;
}

}  // namespace norvo::app
