// SPDX-License-Identifier: GPL-3.0-or-later
#include "media/gphoto_camera.h"

#include <fcntl.h>
#include <gphoto2/gphoto2.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <utility>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace norvo::media {
namespace {

// libgphoto2's USB port driver leaves libusb's device list allocated each
// time it lists the ports, from a module it unloads again. In sanitizer
// builds the leak check is told that what is allocated meanwhile is not
// ours; elsewhere this does nothing.
class PortListingScope {
 public:
#if defined(__SANITIZE_ADDRESS__)
  PortListingScope() { __lsan_disable(); }
  ~PortListingScope() { __lsan_enable(); }
#else
  PortListingScope() {}   // NOLINT: user-provided, so that a scope is not an unused variable
  ~PortListingScope() {}  // NOLINT: likewise
#endif
  PortListingScope(const PortListingScope&) = delete;
  PortListingScope& operator=(const PortListingScope&) = delete;
};

// Owners of the libgphoto2 objects.
struct ContextFree {
  void operator()(GPContext* c) const { gp_context_unref(c); }
};
struct CameraFree {
  void operator()(Camera* c) const {
    gp_camera_exit(c, nullptr);
    gp_camera_unref(c);
  }
};
struct ListFree {
  void operator()(CameraList* l) const { gp_list_unref(l); }
};
struct FileFree {
  void operator()(CameraFile* f) const { gp_file_unref(f); }
};
struct AbilitiesFree {
  void operator()(CameraAbilitiesList* l) const { gp_abilities_list_free(l); }
};
struct PortsFree {
  void operator()(GPPortInfoList* l) const { gp_port_info_list_free(l); }
};
using ContextPtr = std::unique_ptr<GPContext, ContextFree>;
using CameraPtr = std::unique_ptr<Camera, CameraFree>;
using ListPtr = std::unique_ptr<CameraList, ListFree>;
using FilePtr = std::unique_ptr<CameraFile, FileFree>;
using AbilitiesPtr = std::unique_ptr<CameraAbilitiesList, AbilitiesFree>;
using PortsPtr = std::unique_ptr<GPPortInfoList, PortsFree>;

ListPtr NewList() {
  CameraList* list = nullptr;
  if (gp_list_new(&list) != GP_OK) return nullptr;
  return ListPtr(list);
}

// The entries of a list as (name, value) pairs.
std::vector<std::pair<std::string, std::string>> Entries(CameraList* list) {
  std::vector<std::pair<std::string, std::string>> out;
  const int count = gp_list_count(list);
  for (int i = 0; i < count; ++i) {
    const char* name = nullptr;
    const char* value = nullptr;
    if (gp_list_get_name(list, i, &name) != GP_OK) continue;
    if (gp_list_get_value(list, i, &value) != GP_OK) value = nullptr;
    out.emplace_back(name != nullptr ? name : "", value != nullptr ? value : "");
  }
  return out;
}

std::string JoinFolder(const std::string& folder, const std::string& name) {
  return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

// Undoes mountinfo's octal escapes of space, tab, newline and backslash.
std::string UnescapeMountPath(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size()) {
      const char a = text[i + 1], b = text[i + 2], c = text[i + 3];
      if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
        out.push_back(static_cast<char>((a - '0') * 64 + (b - '0') * 8 + (c - '0')));
        i += 3;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Pseudo file systems whose mount points never hold a camera's pictures.
bool SystemFileSystem(std::string_view type) {
  static constexpr std::string_view kTypes[] = {"proc",   "sysfs",  "devtmpfs", "devpts", "cgroup", "cgroup2",
                                                "mqueue", "debugfs", "tracefs", "securityfs", "pstore",
                                                "bpf",    "configfs", "fusectl", "hugetlbfs", "autofs"};
  return std::find(std::begin(kTypes), std::end(kTypes), type) != std::end(kTypes);
}

}  // namespace

struct CameraConnection::Handles {
  ContextPtr context;
  CameraPtr camera;
};

ErrorCode ErrorFromGphoto(int result) {
  switch (result) {
    case GP_OK: return err::kNone;
    case GP_ERROR_NO_MEMORY: return err::kOutOfMemory;
    case GP_ERROR_CANCEL: return err::kUserCancelled;
    case GP_ERROR_FILE_NOT_FOUND: return err::kFileNotFound;
    case GP_ERROR_DIRECTORY_NOT_FOUND: return err::kFolderNotFound;
    case GP_ERROR_FILE_EXISTS: return err::kDuplicateName;
    case GP_ERROR_IO_USB_CLAIM:
    case GP_ERROR_IO_LOCK:
    case GP_ERROR_CAMERA_BUSY: return err::kFileBusy;
    case GP_ERROR_MODEL_NOT_FOUND:
    case GP_ERROR_UNKNOWN_PORT:
    case GP_ERROR_NOT_SUPPORTED:
    case GP_ERROR_BAD_PARAMETERS: return err::kParam;
    case GP_ERROR_IO_USB_FIND: return err::kNoSuchVolume;
    default: return err::kIo;
  }
}

CameraProblem ProblemFromGphoto(int result) {
  switch (result) {
    case GP_OK: return CameraProblem::kNone;
    case GP_ERROR_IO_USB_CLAIM:
    case GP_ERROR_IO_LOCK:
    case GP_ERROR_CAMERA_BUSY: return CameraProblem::kInUse;
    case GP_ERROR_MODEL_NOT_FOUND:
    case GP_ERROR_UNKNOWN_PORT:
    case GP_ERROR_NOT_SUPPORTED: return CameraProblem::kUnsupported;
    case GP_ERROR_IO_USB_FIND: return CameraProblem::kNoCamera;
    default: return CameraProblem::kIo;
  }
}

std::vector<CameraInfo> MassStorageCameras(std::string_view mountinfo) {
  std::vector<CameraInfo> out;
  std::istringstream lines{std::string(mountinfo)};
  std::string line;
  while (std::getline(lines, line)) {
    // "36 35 98:0 /root /mnt/point rw,noatime shared:1 - ext3 /dev/root rw"
    std::istringstream fields(line);
    std::string id, parent, device, root, mount_point;
    if (!(fields >> id >> parent >> device >> root >> mount_point)) continue;
    std::string word, type;
    while (fields >> word && word != "-") {
    }
    fields >> type;
    if (SystemFileSystem(type)) continue;
    const std::string path = UnescapeMountPath(mount_point);
    if (path == "/" || !IsFolder(path + "/DCIM")) continue;
    CameraInfo camera{std::string(kMassStorageModel), "disk:" + path};
    if (std::find(out.begin(), out.end(), camera) == out.end()) out.push_back(std::move(camera));
  }
  return out;
}

ErrorCode ListCameras(std::vector<CameraInfo>* out) {
  out->clear();
  ContextPtr context(gp_context_new());
  ListPtr list = NewList();
  if (!context || !list) return err::kOutOfMemory;
  int result = GP_OK;
  {
    PortListingScope ports;
    result = gp_camera_autodetect(list.get(), context.get());
  }
  if (result >= GP_OK) {
    for (auto& [model, port] : Entries(list.get())) {
      // The directory driver shows up for every mounted disk; those come
      // from the mount table below, with a DCIM folder.
      if (model == kDirectoryDriverModel || port.starts_with("disk:")) continue;
      out->push_back({std::move(model), std::move(port)});
    }
  }
  std::ifstream mounts("/proc/self/mountinfo");
  std::stringstream text;
  text << mounts.rdbuf();
  for (CameraInfo& c : MassStorageCameras(text.str())) out->push_back(std::move(c));
  // A testing aid: a camera that is a folder (libgphoto2's directory driver
  // needs its "disk:" port named), as if it were connected.
  if (const char* port = std::getenv("NORVO_CAMERA_PORT"); port != nullptr && port[0] != '\0') {
    const char* model = std::getenv("NORVO_CAMERA_MODEL");
    CameraInfo camera{model != nullptr && model[0] != '\0' ? model : std::string(kMassStorageModel), port};
    if (std::find(out->begin(), out->end(), camera) == out->end()) out->push_back(std::move(camera));
  }
  return result >= GP_OK ? err::kNone : ErrorFromGphoto(result);
}

CameraConnection::CameraConnection() : handles_(std::make_unique<Handles>()) {}
CameraConnection::~CameraConnection() = default;

ErrorCode CameraConnection::check(int result) {
  if (result >= GP_OK) return err::kNone;
  last_result_ = result;
  return ErrorFromGphoto(result);
}

ErrorCode CameraConnection::Open(const CameraInfo& camera, std::unique_ptr<CameraConnection>* out,
                                 CameraProblem* problem) {
  CameraProblem ignored = CameraProblem::kNone;
  if (problem == nullptr) problem = &ignored;
  *problem = CameraProblem::kNone;
  auto fail = [&](int result) {
    *problem = ProblemFromGphoto(result);
    return ErrorFromGphoto(result);
  };
  std::unique_ptr<CameraConnection> c(new CameraConnection());
  c->info_ = camera;
  c->handles_->context.reset(gp_context_new());
  if (!c->handles_->context) return err::kOutOfMemory;
  GPContext* context = c->handles_->context.get();
  gp_context_set_cancel_func(
      context,
      [](GPContext*, void* data) {
        return static_cast<CameraConnection*>(data)->cancelled() ? GP_CONTEXT_FEEDBACK_CANCEL : GP_CONTEXT_FEEDBACK_OK;
      },
      c.get());

  Camera* raw = nullptr;
  if (int r = gp_camera_new(&raw); r < GP_OK) return fail(r);
  c->handles_->camera.reset(raw);

  const std::string model = camera.model == kMassStorageModel ? std::string(kDirectoryDriverModel) : camera.model;
  CameraAbilitiesList* abilities_raw = nullptr;
  if (int r = gp_abilities_list_new(&abilities_raw); r < GP_OK) return fail(r);
  AbilitiesPtr abilities(abilities_raw);
  if (int r = gp_abilities_list_load(abilities.get(), context); r < GP_OK) return fail(r);
  const int model_index = gp_abilities_list_lookup_model(abilities.get(), model.c_str());
  if (model_index < GP_OK) return fail(GP_ERROR_MODEL_NOT_FOUND);
  CameraAbilities a{};
  if (int r = gp_abilities_list_get_abilities(abilities.get(), model_index, &a); r < GP_OK) return fail(r);
  if (int r = gp_camera_set_abilities(raw, a); r < GP_OK) return fail(r);

  GPPortInfoList* ports_raw = nullptr;
  if (int r = gp_port_info_list_new(&ports_raw); r < GP_OK) return fail(r);
  PortsPtr ports(ports_raw);
  {
    PortListingScope listing;
    if (int r = gp_port_info_list_load(ports.get()); r < GP_OK) return fail(r);
  }
  const int port_index = gp_port_info_list_lookup_path(ports.get(), camera.port.c_str());
  if (port_index < GP_OK) return fail(port_index == GP_ERROR_UNKNOWN_PORT ? GP_ERROR_UNKNOWN_PORT : port_index);
  GPPortInfo port_info{};
  if (int r = gp_port_info_list_get_info(ports.get(), port_index, &port_info); r < GP_OK) return fail(r);
  if (int r = gp_camera_set_port_info(raw, port_info); r < GP_OK) return fail(r);

  if (int r = gp_camera_init(raw, context); r < GP_OK) {
    // A camera that failed to start must not be exited again.
    c->handles_->camera.release();
    gp_camera_unref(raw);
    return fail(r);
  }
  *out = std::move(c);
  return err::kNone;
}

ErrorCode CameraConnection::fileInfo(const std::string& folder, const std::string& name, CameraFileEntry* out) {
  CameraFileInfo info{};
  if (ErrorCode e = check(gp_camera_file_get_info(handles_->camera.get(), folder.c_str(), name.c_str(), &info,
                                                  handles_->context.get()));
      e != err::kNone) {
    return e;
  }
  out->folder = folder;
  out->name = name;
  out->size_known = (info.file.fields & GP_FILE_INFO_SIZE) != 0;
  out->size = out->size_known ? info.file.size : 0;
  out->modified = (info.file.fields & GP_FILE_INFO_MTIME) != 0 ? static_cast<std::int64_t>(info.file.mtime) : 0;
  return err::kNone;
}

ErrorCode CameraConnection::listFiles(const std::string& root, std::vector<CameraFileEntry>* out) {
  out->clear();
  Camera* camera = handles_->camera.get();
  GPContext* context = handles_->context.get();
  struct Pending {
    std::string folder;
    int depth;
  };
  std::vector<Pending> stack{{root, 0}};
  bool first = true;
  while (!stack.empty() && out->size() < kMaxCameraFiles) {
    if (cancelled()) return err::kUserCancelled;
    Pending here = std::move(stack.back());
    stack.pop_back();
    ListPtr files = NewList();
    ListPtr folders = NewList();
    if (!files || !folders) return err::kOutOfMemory;
    const int listed = gp_camera_folder_list_files(camera, here.folder.c_str(), files.get(), context);
    if (listed < GP_OK) {
      if (first) return check(listed);
      continue;
    }
    for (const auto& [name, value] : Entries(files.get())) {
      if (out->size() >= kMaxCameraFiles) break;
      CameraFileEntry entry;
      if (fileInfo(here.folder, name, &entry) != err::kNone) {
        // Listed but without facts: its size is checked after the download.
        entry = CameraFileEntry{here.folder, name};
      }
      out->push_back(std::move(entry));
    }
    if (here.depth + 1 < kMaxCameraFolderDepth &&
        gp_camera_folder_list_folders(camera, here.folder.c_str(), folders.get(), context) >= GP_OK) {
      auto subs = Entries(folders.get());
      // Pushed last to first so that they are walked in the camera's order.
      for (auto it = subs.rbegin(); it != subs.rend(); ++it) {
        stack.push_back({JoinFolder(here.folder, it->first), here.depth + 1});
      }
    }
    first = false;
  }
  return err::kNone;
}

ErrorCode CameraConnection::download(const std::string& folder, const std::string& name, int fd) {
  // The CameraFile closes the descriptor it is given: it gets its own copy.
  const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return ErrorFromErrno(errno);
  CameraFile* raw = nullptr;
  if (int r = gp_file_new_from_fd(&raw, copy); r < GP_OK) {
    ::close(copy);
    return check(r);
  }
  FilePtr file(raw);
  return check(gp_camera_file_get(handles_->camera.get(), folder.c_str(), name.c_str(), GP_FILE_TYPE_NORMAL, raw,
                                  handles_->context.get()));
}

ErrorCode CameraConnection::deleteFile(const std::string& folder, const std::string& name) {
  return check(gp_camera_file_delete(handles_->camera.get(), folder.c_str(), name.c_str(), handles_->context.get()));
}

}  // namespace norvo::media
