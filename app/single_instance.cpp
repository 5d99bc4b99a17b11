// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/single_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <utility>

namespace norvo::app {
namespace {

// The one byte a later launch sends, and the one the running instance sends
// back once it has taken the text.
constexpr char kNotifyByte = 'N';
constexpr char kAckByte = 'A';
constexpr int kListenBacklog = 16;
constexpr mode_t kPrivateFolderMode = 0700;
constexpr mode_t kPrivateFileMode = 0600;
// Between connection attempts while the listener's backlog is full.
constexpr auto kConnectRetryPause = std::chrono::milliseconds(5);

using Clock = std::chrono::steady_clock;

// Closes a descriptor when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

ErrorCode PathInRuntimeFolder(std::string_view name, std::string* out) {
  std::string folder;
  if (ErrorCode e = RuntimeFolder(&folder); e != err::kNone) return e;
  *out = folder + "/" + std::string(name);
  return err::kNone;
}

ErrorCode SocketAddress(std::string_view name, sockaddr_un* address, std::string* path) {
  if (ErrorCode e = PathInRuntimeFolder(name, path); e != err::kNone) return e;
  *address = sockaddr_un{};
  address->sun_family = AF_UNIX;
  if (path->size() >= sizeof address->sun_path) return err::kBadName;
  path->copy(address->sun_path, path->size());
  return err::kNone;
}

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for `events` on `fd` until `deadline`; false when the time ran out.
bool WaitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    int r = ::poll(&p, 1, RemainingMs(deadline));
    if (r > 0) return true;
    if (r == 0) return false;
    if (errno != EINTR) return false;
  }
}

}  // namespace

ErrorCode RuntimeFolder(std::string* out, std::string_view fallback_base) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime != '\0') {
    *out = runtime;
    return err::kNone;
  }
  std::string folder = std::string(fallback_base) + "/norvo-" + std::to_string(::getuid());
  if (::mkdir(folder.c_str(), kPrivateFolderMode) != 0 && errno != EEXIST) return ErrorFromErrno(errno);
  // The base is shared with every user: the folder must be ours and not a
  // link someone else placed there.
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0) return ErrorFromErrno(errno);
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return err::kPermission;
  if ((st.st_mode & 07777) != kPrivateFolderMode && ::chmod(folder.c_str(), kPrivateFolderMode) != 0) {
    return ErrorFromErrno(errno);
  }
  *out = std::move(folder);
  return err::kNone;
}

// --- the lock ----------------------------------------------------------------

ErrorCode SingleInstanceLock::acquire(std::string_view name) {
  release();
  std::string path;
  if (ErrorCode e = PathInRuntimeFolder(name, &path); e != err::kNone) return e;
  Descriptor fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kPrivateFileMode));
  if (fd.get() < 0) return ErrorFromErrno(errno);
  // An open-file-description lock belongs to this descriptor alone: closing
  // some other descriptor of the same file in this process keeps it, and a
  // second lock object in the same process is refused like another process.
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  if (::fcntl(fd.get(), F_OFD_SETLK, &lock) != 0) {
    return errno == EAGAIN || errno == EACCES ? err::kOpenForWriting : ErrorFromErrno(errno);
  }
  // The process id, for whoever looks at the file; nothing reads it back.
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd.get(), 0) == 0) {
    [[maybe_unused]] ssize_t written = ::pwrite(fd.get(), pid.data(), pid.size(), 0);
  }
  fd_ = fd.release();
  return err::kNone;
}

void SingleInstanceLock::release() {
  if (fd_ >= 0) ::close(fd_);  // closing the description drops its lock
  fd_ = -1;
}

// --- the listener ------------------------------------------------------------

ErrorCode HandOverListener::start(std::string_view message_name) {
  stop();
  sockaddr_un address{};
  std::string path;
  if (ErrorCode e = SocketAddress(message_name, &address, &path); e != err::kNone) return e;
  Descriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (fd.get() < 0) return ErrorFromErrno(errno);
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) return ErrorFromErrno(errno);
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return ErrorFromErrno(errno);
  if (::listen(fd.get(), kListenBacklog) != 0) {
    const int e = errno;
    ::unlink(path.c_str());
    return ErrorFromErrno(e);
  }
  fd_ = fd.release();
  path_ = std::move(path);
  return err::kNone;
}

void HandOverListener::stop() {
  if (fd_ < 0) return;
  ::close(fd_);
  ::unlink(path_.c_str());
  fd_ = -1;
  path_.clear();
}

int HandOverListener::poll(int timeout_ms, CmdLineMap& map, const Callback& on_command_line) {
  if (fd_ < 0) return 0;
  if (timeout_ms > 0 && !WaitFor(fd_, POLLIN, Clock::now() + std::chrono::milliseconds(timeout_ms))) return 0;
  int handled = 0;
  for (;;) {
    Descriptor connection(::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC));
    if (connection.get() < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      break;  // EAGAIN: nothing more waiting
    }
    // A client that connects and sends nothing costs at most the hand-over
    // time-out, never a hung program.
    char byte = 0;
    if (!WaitFor(connection.get(), POLLIN, Clock::now() + std::chrono::milliseconds(kHandOverTimeoutMs))) continue;
    if (::recv(connection.get(), &byte, 1, 0) != 1 || byte != kNotifyByte) continue;
    std::string text = map.get();
    (void)map.clear();  // cannot fail: the block is open while listening
    ::send(connection.get(), &kAckByte, 1, MSG_NOSIGNAL);
    ++handled;
    if (on_command_line) on_command_line(text);
  }
  return handled;
}

// --- the later launch --------------------------------------------------------

ErrorCode NotifyRunningInstance(int timeout_ms, std::string_view message_name) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  sockaddr_un address{};
  std::string path;
  if (ErrorCode e = SocketAddress(message_name, &address, &path); e != err::kNone) return e;
  Descriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (fd.get() < 0) return ErrorFromErrno(errno);
  // A non-blocking connect to a Unix socket either completes at once or,
  // while the backlog is full, fails with EAGAIN and is tried again.
  for (;;) {
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) break;
    if (errno == EINTR) continue;
    if (errno == ENOENT || errno == ECONNREFUSED) return err::kFileNotFound;
    if (errno != EAGAIN) return ErrorFromErrno(errno);
    if (RemainingMs(deadline) == 0) return err::kIo;
    std::this_thread::sleep_for(kConnectRetryPause);
  }
  if (::send(fd.get(), &kNotifyByte, 1, MSG_NOSIGNAL) != 1) return ErrorFromErrno(errno);
  if (!WaitFor(fd.get(), POLLIN, deadline)) return err::kIo;
  char byte = 0;
  if (::recv(fd.get(), &byte, 1, 0) != 1 || byte != kAckByte) return err::kIo;
  return err::kNone;
}

std::optional<std::string> HandOverText(const std::vector<std::string>& args) {
  std::vector<std::string> absolute = args;
  for (std::size_t i = 1; i < absolute.size(); ++i) {
    if (absolute[i].empty()) continue;
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(absolute[i], ec);
    if (!ec) absolute[i] = full.string();
  }
  return JoinCommandLine(absolute);
}

// --- start-up ----------------------------------------------------------------

ErrorCode AppInstance::start(const std::vector<std::string>& args, InstanceRole* role, const InstanceNames& names) {
  const ErrorCode channel = map_.create(names.channel);
  const ErrorCode lock = lock_.acquire(names.lock);
  if (lock != err::kOpenForWriting && lock != err::kPermission) {
    *role = InstanceRole::kFirst;
    if (lock != err::kNone) return lock;
    const ErrorCode listening = listener_.start(names.message);
    return channel != err::kNone ? channel : listening;
  }
  // Another instance runs. A text that cannot be put leaves the channel as
  // it is, and the running instance is still notified: it comes to the
  // front with whatever it finds there.
  ErrorCode handed = channel;
  if (handed == err::kNone) {
    std::optional<std::string> text = HandOverText(args);
    handed = text ? map_.put(*text) : err::kBadName;
  }
  const ErrorCode notified = NotifyRunningInstance(kHandOverTimeoutMs, names.message);
  *role = notified == err::kNone ? InstanceRole::kHandedOver : InstanceRole::kNotDelivered;
  return notified != err::kNone ? notified : handed;
}

}  // namespace norvo::app
