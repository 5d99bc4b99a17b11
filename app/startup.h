// SPDX-License-Identifier: GPL-3.0-or-later
// The start-up sequence shared by the desktop program and norvo-cli: system
// check, single instance, installation check, importer folders and media
// types, settings (first-run stamp, labels), scratch folder, last catalog,
// recent list, and what the command line asks for. Windows are the desktop
// program's own business and come after this.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/preferences.h"
#include "app/recent_files.h"
#include "app/settings_store.h"
#include "app/single_instance.h"
#include "app/update_check.h"

namespace norvo::app {

inline constexpr char kScratchFolderKey[] = "ScratchFolder";
inline constexpr char kLastCatalogKey[] = "LastCatalog";
inline constexpr char kInstallPathValue[] = "Path";  // machine store: the program folder
inline constexpr char kImportersFolderName[] = "Importers";
// The update-check address, when an administrator or the user set one.
inline constexpr char kUpdateUrlKey[] = "Version";
inline constexpr char kUpdateUrlValue[] = "UpdateURL";

inline constexpr char kIncompleteInstallationMessage[] =
    "This installation does not seem to be complete. Please run the installer again.";
inline constexpr char kEssentialImportersMessage[] =
    "Some essential QuickTime Importers are missing from your system.\nPlease reinstall QuickTime using the "
    "'Full-Install' option.";

// What the program needs of the system: open-file-description locks (they
// protect catalogs shared between machines) came with Linux 3.15.
struct SystemRequirement {
  int kernel_major = 3;
  int kernel_minor = 15;
};
// Empty when the system is supported; else the message to show.
std::string CheckSystem(const std::optional<SystemVersion>& kernel, SystemRequirement need = {});

struct StartupOptions {
  std::vector<std::string> args;   // the whole command line, args[0] the program
  bool single_instance = true;     // the desktop program; norvo-cli runs beside it
  std::optional<ScreenSize> screen;
  bool automatic_update_check = false;  // run the check when the preferences allow it
  std::optional<std::string> update_url;  // else the configured address
  InstanceNames names;             // tests use their own
};

enum class StartupOutcome {
  kRun,         // go on: make the windows and act on `request` / `reopen_catalog`
  kHandedOver,  // another instance took the command line: end quietly
  kFailed,      // end after showing `failure`
};

struct StartupState {
  StartupOutcome outcome = StartupOutcome::kFailed;
  std::string failure;                // the message when kFailed
  std::vector<std::string> warnings;  // shown; start-up went on

  std::unique_ptr<AppInstance> instance;  // the running instance's hand-over end
  std::unique_ptr<SettingsStore> settings;
  LoadedPreferences preferences;
  Labels labels = DefaultLabels();
  bool first_run = false;
  std::vector<std::string> importer_folders;

  std::string scratch_folder;
  int leftovers_removed = 0;  // scratch files and temporary copies of killed runs removed
  std::string last_catalog;
  RecentFiles recent;
  CommandLineRequest request;                 // what the command line asks for
  std::optional<std::string> reopen_catalog;  // the last catalog, when the preferences say so
  std::optional<UpdateCheckResult> update;    // the automatic check, when it ran and has news
};

StartupState InitInstance(const StartupOptions& options);
// What the program keeps when it ends: the last catalog ("LastCatalog"), the
// recent list, the label names and the preferences, from `s` as the
// program left them. The first error is returned; the rest is still written.
ErrorCode ExitInstance(StartupState& s);

// The folders that may hold importer plug-ins: beside the program (or the
// installed program folder the machine settings name), the user's data
// folder, and the system's library folder. Folders that cannot be formed are
// left out; they need not exist.
std::vector<std::string> ImporterFolders(const SettingsStore& store);

// The update-check address from the settings, else the built-in one.
std::string ConfiguredUpdateUrl(const SettingsStore& store);

// The stored scratch folder when it is an existing folder, else the system's
// temporary folder.
std::string ChooseScratchFolder(const SettingsStore& store);

}  // namespace norvo::app
