// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/startup.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "app/catalog_document.h"
#include "app/engine_preferences.h"
#include "media/media_type_registry.h"
#include "metadata/custom_fields.h"
#include "media/platform_components.h"
#include "platform/file_spec.h"

namespace norvo::app {
namespace {

bool IsFolder(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsFile(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string ProgramFolder() {
  std::string exe(4096, '\0');
  ssize_t n = ::readlink("/proc/self/exe", exe.data(), exe.size() - 1);
  if (n <= 0) return {};
  exe.resize(static_cast<std::size_t>(n));
  return ParentFolder(exe);
}

std::string DataHome() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data != nullptr && data[0] == '/') return data;
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return JoinPath(home, ".local/share");
  return {};
}

StartupState Fail(StartupState state, std::string message) {
  state.outcome = StartupOutcome::kFailed;
  state.failure = std::move(message);
  return state;
}

// The last catalog is opened at start-up when the user chose so and it is
// still there.
bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return a == b;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::optional<std::string> CatalogToReopen(const StartupState& s) {
  if (s.preferences.preferences.u8(pref::kStartupChoice) != kStartupReopenLastCatalog) return std::nullopt;
  if (!IsFile(s.last_catalog)) return std::nullopt;
  return s.last_catalog;
}

}  // namespace

std::string CheckSystem(const std::optional<SystemVersion>& kernel, SystemRequirement need) {
  if (!kernel) return {};  // an unreadable version is no reason to refuse
  bool too_old = kernel->major < static_cast<std::uint32_t>(need.kernel_major) ||
                 (kernel->major == static_cast<std::uint32_t>(need.kernel_major) &&
                  kernel->minor < static_cast<std::uint32_t>(need.kernel_minor));
  if (!too_old) return {};
  return "This system is not supported: Norvo Media needs Linux " + std::to_string(need.kernel_major) + "." +
         std::to_string(need.kernel_minor) + " or newer.";
}

std::vector<std::string> ImporterFolders(const SettingsStore& store) {
  std::vector<std::string> folders;
  std::string program = store.getString("", kInstallPathValue, SettingsStore::Scope::kMachine).value_or("");
  if (program.empty()) program = ProgramFolder();
  if (!program.empty()) folders.push_back(JoinPath(program, kImportersFolderName));
  if (std::string data = DataHome(); !data.empty()) {
    folders.push_back(JoinPath(JoinPath(data, "Norvo"), kImportersFolderName));
  }
  folders.push_back(JoinPath("/usr/lib/norvo", kImportersFolderName));
  return folders;
}

std::string ConfiguredUpdateUrl(const SettingsStore& store) {
  auto url = store.getString(kUpdateUrlKey, kUpdateUrlValue);
  return url && !url->empty() ? *url : std::string(kDefaultUpdateUrl);
}

std::string ChooseScratchFolder(const SettingsStore& store) {
  auto stored = store.getString(kScratchFolderKey, "");
  if (stored && IsFolder(*stored)) return *stored;
  return SystemTemporaryFolder();
}

ErrorCode ExitInstance(StartupState& s) {
  if (!s.settings) return err::kParam;
  ErrorCode result = s.settings->putString(kLastCatalogKey, "", s.last_catalog);
  auto keep_first = [&result](ErrorCode e) {
    if (result == err::kNone) result = e;
  };
  keep_first(s.recent.store(*s.settings));
  keep_first(SaveLabels(*s.settings, s.labels));
  keep_first(SavePreferences(*s.settings, s.preferences.preferences, s.preferences.recover));
  return result;
}

StartupState InitInstance(const StartupOptions& options) {
  StartupState s;
  // 1. The system.
  if (std::string refused = CheckSystem(KernelVersion()); !refused.empty()) return Fail(std::move(s), refused);

  // 2. One instance: a later launch hands its command line over and ends.
  if (options.single_instance) {
    s.instance = std::make_unique<AppInstance>();
    InstanceRole role = InstanceRole::kFirst;
    // The role is the answer; a code only says why the program runs as the
    // first instance without the single-instance guarantee, which it may.
    (void)s.instance->start(options.args, &role, options.names);
    if (role != InstanceRole::kFirst) {
      s.instance.reset();
      s.outcome = StartupOutcome::kHandedOver;
      return s;
    }
  }

  // 3-5. The platform needs no loading here; the installation is complete
  // when some settings store can hold the application key.
  s.settings = std::make_unique<SettingsStore>(SettingsStore::Open());
  for (const auto& warning : s.settings->warnings()) s.warnings.push_back(warning);
  if (s.settings->userPath().empty() && s.settings->machinePath().empty()) {
    return Fail(std::move(s), kIncompleteInstallationMessage);
  }

  // 6. Media types, from what the linked libraries can read.
  s.importer_folders = ImporterFolders(*s.settings);
  if (ErrorCode e = media::InitMediaTypes(media::FindPlatformComponents()); e != err::kNone) {
    return Fail(std::move(s), "The media libraries could not be loaded. (error " + std::to_string(e) + ")");
  }

  // 7-8. The engine needs no set-up; the settings, stamped on the first run.
  s.preferences = LoadPreferences(*s.settings, options.screen);
  ApplyPreferences(s.preferences.preferences);  // the engine's and the import code's settings
  s.labels = LoadLabels(*s.settings);
  {
    std::vector<std::string> label_names;
    for (const Label& label : s.labels) label_names.push_back(label.name);
    metadata::SetColourLabelNames(label_names);  // what search finds labels by
  }
  if (StampFirstRun(s.preferences.preferences)) {
    s.first_run = true;
    // A store that cannot be written still lets the program run; the stamp
    // is then simply tried again next time.
    (void)SavePreferences(*s.settings, s.preferences.preferences, s.preferences.recover);
  }
  // Missing readers are worth a word at every start, not just the first.
  if (!media::HasEssentialImporters()) s.warnings.push_back(kEssentialImportersMessage);

  // 9. Scratch folder and last catalog.
  s.scratch_folder = ChooseScratchFolder(*s.settings);
  SetScratchFolder(s.scratch_folder);
  // What killed runs left there, and beside the files they were rewriting.
  s.leftovers_removed = SweepLeftovers();
  s.last_catalog = s.settings->getString(kLastCatalogKey, "").value_or("");

  // 11. Recent catalogs.
  s.recent.load(*s.settings);

  // 13-14. What to open.
  s.request = ClassifyCommandLine(options.args);
  // The last catalog reopens whatever the command line asks as well, unless
  // the command line opens that very catalog.
  s.reopen_catalog = CatalogToReopen(s);
  if (s.reopen_catalog && s.request.kind == CommandLineRequest::Kind::kOpenCatalog && !s.request.paths.empty() &&
      SameFile(s.request.paths.front(), *s.reopen_catalog)) {
    s.reopen_catalog.reset();
  }

  if (options.automatic_update_check && s.preferences.preferences.u8(pref::kNoUpdateCheck) != 1) {
    UpdateCheckResult result =
        CheckForUpdate(false, options.update_url ? *options.update_url : ConfiguredUpdateUrl(*s.settings));
    if (result.newer) s.update = result;  // an automatic check stays silent otherwise
  }
  s.outcome = StartupOutcome::kRun;
  return s;
}

}  // namespace norvo::app
