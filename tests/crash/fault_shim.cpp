// SPDX-License-Identifier: GPL-3.0-or-later
// A library preloaded (LD_PRELOAD) into norvo-cli by the crash tests. It puts
// one counter over every write-like call the process makes on a regular
// file, in call order, and can stop the process at any one of them:
//
//   NORVO_FAULT_MODE=count   count only. With NORVO_FAULT_COUNT_FILE set, one
//                            line per call ("N kind effect bytes path") goes
//                            to that file as it happens, and "count N" when
//                            the process exits normally. The kinds of effect
//                            are data, allocate, shrink, flush and name.
//   NORVO_FAULT_MODE=kill    SIGKILL just before the NORVO_FAULT_AT-th call,
//                            as a crash or a kill -9 would stop it.
//   NORVO_FAULT_MODE=torn    when the NORVO_FAULT_AT-th call writes data, only
//                            the first half of its bytes are written, then
//                            SIGKILL: the torn write a power cut leaves. A call
//                            there that writes no data is made whole and the
//                            process goes on.
//   NORVO_FAULT_MODE=enospc  from the NORVO_FAULT_AT-th call on, every data
//                            write, allocation, growing truncation and flush
//                            fails with ENOSPC: a disk that filled up. The
//                            process is not stopped.
//
// Counted: write, pwrite(64), writev, pwritev(64)(2), copy_file_range,
// sendfile(64), fallocate(64), posix_fallocate(64), ftruncate(64), fsync and
// fdatasync on descriptors of regular files; rename, renameat and renameat2
// always; unlink, unlinkat and remove of a regular file (deleting a journal
// or a temporary can be the very step that commits a change). Writes to
// pipes and terminals (the process's standard output and error under the
// tests) pass through uncounted, as do the calls libc makes inside itself
// (stdio's own writes among them).
//
// The library depends on nothing but libc and libdl, so it can be preloaded
// into a build with or without sanitizers. Its own output uses raw system
// calls, so it never counts itself.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

enum class Mode { kOff, kCount, kKill, kTorn, kEnospc };

// What a counted call does to the file, for the decision and the trace.
enum class Effect {
  kData,      // writes bytes
  kAllocate,  // reserves blocks (fallocate, or a truncation that grows)
  kShrink,    // a truncation that does not grow
  kFlush,     // fsync / fdatasync
  kName,      // rename or unlink
};

Mode g_mode = Mode::kOff;
std::uint64_t g_at = 0;
int g_trace_fd = -1;
std::atomic<std::uint64_t> g_calls{0};

// Raw system calls: not seen by this library, nor by any other interposer.
long RawWrite(int fd, const void* data, std::size_t size) { return ::syscall(SYS_write, fd, data, size); }

void RawWriteAll(int fd, const char* text, std::size_t size) {
  while (size > 0) {
    long n = RawWrite(fd, text, size);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      return;
    }
    text += n;
    size -= static_cast<std::size_t>(n);
  }
}

// Small text building without allocation: the calls may come from anywhere.
struct Line {
  char text[PATH_MAX + 128];
  std::size_t size = 0;

  void add(const char* s) {
    for (; *s != '\0' && size < sizeof text - 1; ++s) text[size++] = *s;
  }
  void add(std::uint64_t value) {
    char digits[24];
    int n = 0;
    do {
      digits[n++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    while (n > 0 && size < sizeof text - 1) text[size++] = digits[--n];
  }
};

std::uint64_t ParseNumber(const char* text) {
  std::uint64_t value = 0;
  if (text == nullptr) return 0;
  for (; *text >= '0' && *text <= '9'; ++text) value = value * 10 + static_cast<std::uint64_t>(*text - '0');
  return value;
}

__attribute__((constructor)) void ReadSettings() {
  const char* mode = std::getenv("NORVO_FAULT_MODE");
  if (mode == nullptr) return;
  if (std::strcmp(mode, "count") == 0) g_mode = Mode::kCount;
  if (std::strcmp(mode, "kill") == 0) g_mode = Mode::kKill;
  if (std::strcmp(mode, "torn") == 0) g_mode = Mode::kTorn;
  if (std::strcmp(mode, "enospc") == 0) g_mode = Mode::kEnospc;
  g_at = ParseNumber(std::getenv("NORVO_FAULT_AT"));
  const char* count_file = std::getenv("NORVO_FAULT_COUNT_FILE");
  if (g_mode == Mode::kCount && count_file != nullptr) {
    g_trace_fd = static_cast<int>(
        ::syscall(SYS_openat, AT_FDCWD, count_file, O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600));
  }
}

// Written only when the process ends normally: a run that was stopped, or
// that ended by _exit, leaves the trace without its count line.
__attribute__((destructor)) void WriteCount() {
  if (g_trace_fd < 0) return;
  Line line;
  line.add("count ");
  line.add(g_calls.load());
  line.add("\n");
  RawWriteAll(g_trace_fd, line.text, line.size);
  ::syscall(SYS_close, g_trace_fd);
  g_trace_fd = -1;
}

bool IsRegularFile(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

// Renames always count; an unlink counts when it names a regular file.
bool NamesRegularFile(int dir_fd, const char* path) {
  struct stat st {};
  return ::fstatat(dir_fd, path, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
}

void Trace(std::uint64_t n, const char* kind, Effect effect, std::uint64_t bytes, int fd, const char* path) {
  if (g_trace_fd < 0) return;
  Line line;
  line.add(n);
  line.add(" ");
  line.add(kind);
  static constexpr const char* kEffectNames[] = {" data ", " allocate ", " shrink ", " flush ", " name "};
  line.add(kEffectNames[static_cast<int>(effect)]);
  line.add(bytes);
  line.add(" ");
  if (path != nullptr) {
    line.add(path);
  } else {
    char link[40] = "/proc/self/fd/";
    Line number;
    number.add(static_cast<std::uint64_t>(fd));
    std::memcpy(link + 14, number.text, number.size);
    link[14 + number.size] = '\0';
    char target[PATH_MAX];
    long n_target = ::syscall(SYS_readlinkat, AT_FDCWD, link, target, sizeof target - 1);
    target[n_target > 0 ? n_target : 0] = '\0';
    line.add(target);
  }
  line.add("\n");
  RawWriteAll(g_trace_fd, line.text, line.size);
}

[[noreturn]] void Die() {
  ::syscall(SYS_kill, ::syscall(SYS_getpid), SIGKILL);
  for (;;) ::pause();
}

enum class Action { kPass, kTear, kFail };

// Counts one call and says what to do with it. In kill mode this is where
// the process ends.
Action Decide(const char* kind, Effect effect, std::uint64_t bytes, int fd, const char* path = nullptr) {
  if (g_mode == Mode::kOff) return Action::kPass;
  std::uint64_t n = g_calls.fetch_add(1) + 1;
  Trace(n, kind, effect, bytes, fd, path);
  switch (g_mode) {
    case Mode::kKill:
      if (n == g_at) Die();
      return Action::kPass;
    case Mode::kTorn:
      return n == g_at && effect == Effect::kData ? Action::kTear : Action::kPass;
    case Mode::kEnospc:
      if (g_at == 0 || n < g_at) return Action::kPass;
      return effect == Effect::kShrink || effect == Effect::kName ? Action::kPass : Action::kFail;
    default:
      return Action::kPass;
  }
}

// The next definition of the function (libc's, or a sanitizer's
// interceptor), looked up once.
#define NORVO_REAL(name) \
  static const auto real = reinterpret_cast<decltype(&name)>(::dlsym(RTLD_NEXT, #name))

std::uint64_t IovecBytes(const struct iovec* iov, int count) {
  std::uint64_t total = 0;
  for (int i = 0; i < count; ++i) total += iov[i].iov_len;
  return total;
}

// The first half of an iovec list, in `out` (at most IOV_MAX entries).
int HalfIovec(const struct iovec* iov, int count, struct iovec* out) {
  std::uint64_t left = IovecBytes(iov, count) / 2;
  int n = 0;
  for (int i = 0; i < count && left > 0 && n < IOV_MAX; ++i) {
    std::size_t take = iov[i].iov_len < left ? iov[i].iov_len : static_cast<std::size_t>(left);
    out[n++] = {iov[i].iov_base, take};
    left -= take;
  }
  return n;
}

}  // namespace

extern "C" {

ssize_t write(int fd, const void* buf, size_t count) {
  NORVO_REAL(write);
  if (IsRegularFile(fd)) {
    switch (Decide("write", Effect::kData, count, fd)) {
      case Action::kTear:
        real(fd, buf, count / 2);
        Die();
      case Action::kFail:
        errno = ENOSPC;
        return -1;
      case Action::kPass:
        break;
    }
  }
  return real(fd, buf, count);
}

// On 64-bit glibc pwrite and pwrite64 are one function under two names; a
// caller binds to either, so both are interposed.
#define NORVO_PWRITE(name)                                      \
  ssize_t name(int fd, const void* buf, size_t count, off_t offset) { \
    NORVO_REAL(name);                                           \
    if (IsRegularFile(fd)) {                                    \
      switch (Decide(#name, Effect::kData, count, fd)) {        \
        case Action::kTear:                                     \
          real(fd, buf, count / 2, offset);                     \
          Die();                                                \
        case Action::kFail:                                     \
          errno = ENOSPC;                                       \
          return -1;                                            \
        case Action::kPass:                                     \
          break;                                                \
      }                                                         \
    }                                                           \
    return real(fd, buf, count, offset);                        \
  }
NORVO_PWRITE(pwrite)
NORVO_PWRITE(pwrite64)

ssize_t writev(int fd, const struct iovec* iov, int iovcnt) {
  NORVO_REAL(writev);
  if (IsRegularFile(fd) && iovcnt >= 0) {
    switch (Decide("writev", Effect::kData, IovecBytes(iov, iovcnt), fd)) {
      case Action::kTear: {
        static struct iovec half[IOV_MAX];
        real(fd, half, HalfIovec(iov, iovcnt, half));
        Die();
      }
      case Action::kFail:
        errno = ENOSPC;
        return -1;
      case Action::kPass:
        break;
    }
  }
  return real(fd, iov, iovcnt);
}

#define NORVO_PWRITEV(name)                                                    \
  ssize_t name(int fd, const struct iovec* iov, int iovcnt, off_t offset) {    \
    NORVO_REAL(name);                                                          \
    if (IsRegularFile(fd) && iovcnt >= 0) {                                    \
      switch (Decide(#name, Effect::kData, IovecBytes(iov, iovcnt), fd)) {     \
        case Action::kTear: {                                                  \
          static struct iovec half[IOV_MAX];                                   \
          real(fd, half, HalfIovec(iov, iovcnt, half), offset);                \
          Die();                                                               \
        }                                                                      \
        case Action::kFail:                                                    \
          errno = ENOSPC;                                                      \
          return -1;                                                           \
        case Action::kPass:                                                    \
          break;                                                               \
      }                                                                        \
    }                                                                          \
    return real(fd, iov, iovcnt, offset);                                      \
  }
NORVO_PWRITEV(pwritev)
NORVO_PWRITEV(pwritev64)

#define NORVO_PWRITEV2(name)                                                            \
  ssize_t name(int fd, const struct iovec* iov, int iovcnt, off_t offset, int flags) {  \
    NORVO_REAL(name);                                                                   \
    if (IsRegularFile(fd) && iovcnt >= 0) {                                             \
      switch (Decide(#name, Effect::kData, IovecBytes(iov, iovcnt), fd)) {              \
        case Action::kTear: {                                                           \
          static struct iovec half[IOV_MAX];                                            \
          real(fd, half, HalfIovec(iov, iovcnt, half), offset, flags);                  \
          Die();                                                                        \
        }                                                                               \
        case Action::kFail:                                                             \
          errno = ENOSPC;                                                               \
          return -1;                                                                    \
        case Action::kPass:                                                             \
          break;                                                                        \
      }                                                                                 \
    }                                                                                   \
    return real(fd, iov, iovcnt, offset, flags);                                        \
  }
NORVO_PWRITEV2(pwritev2)
NORVO_PWRITEV2(pwritev64v2)

ssize_t copy_file_range(int fd_in, off64_t* off_in, int fd_out, off64_t* off_out, size_t len, unsigned int flags) {
  NORVO_REAL(copy_file_range);
  if (IsRegularFile(fd_out)) {
    switch (Decide("copy_file_range", Effect::kData, len, fd_out)) {
      case Action::kTear:
        real(fd_in, off_in, fd_out, off_out, len / 2, flags);
        Die();
      case Action::kFail:
        errno = ENOSPC;
        return -1;
      case Action::kPass:
        break;
    }
  }
  return real(fd_in, off_in, fd_out, off_out, len, flags);
}

#define NORVO_SENDFILE(name, Offset)                                      \
  ssize_t name(int out_fd, int in_fd, Offset* offset, size_t count) {     \
    NORVO_REAL(name);                                                     \
    if (IsRegularFile(out_fd)) {                                          \
      switch (Decide(#name, Effect::kData, count, out_fd)) {              \
        case Action::kTear:                                               \
          real(out_fd, in_fd, offset, count / 2);                         \
          Die();                                                          \
        case Action::kFail:                                               \
          errno = ENOSPC;                                                 \
          return -1;                                                      \
        case Action::kPass:                                               \
          break;                                                          \
      }                                                                   \
    }                                                                     \
    return real(out_fd, in_fd, offset, count);                            \
  }
NORVO_SENDFILE(sendfile, off_t)
NORVO_SENDFILE(sendfile64, off64_t)

#define NORVO_FALLOCATE(name)                                       \
  int name(int fd, int mode, off_t offset, off_t len) {             \
    NORVO_REAL(name);                                               \
    if (IsRegularFile(fd) &&                                        \
        Decide(#name, Effect::kAllocate, static_cast<std::uint64_t>(len), fd) == Action::kFail) { \
      errno = ENOSPC;                                               \
      return -1;                                                    \
    }                                                               \
    return real(fd, mode, offset, len);                             \
  }
NORVO_FALLOCATE(fallocate)
NORVO_FALLOCATE(fallocate64)

// posix_fallocate reports its error as the result, not in errno.
#define NORVO_POSIX_FALLOCATE(name)                                 \
  int name(int fd, off_t offset, off_t len) {                       \
    NORVO_REAL(name);                                               \
    if (IsRegularFile(fd) &&                                        \
        Decide(#name, Effect::kAllocate, static_cast<std::uint64_t>(len), fd) == Action::kFail) { \
      return ENOSPC;                                                \
    }                                                               \
    return real(fd, offset, len);                                   \
  }
NORVO_POSIX_FALLOCATE(posix_fallocate)
NORVO_POSIX_FALLOCATE(posix_fallocate64)

#define NORVO_FTRUNCATE(name)                                                          \
  int name(int fd, off_t length) {                                                     \
    NORVO_REAL(name);                                                                  \
    struct stat st {};                                                                 \
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {                                \
      Effect effect = length > st.st_size ? Effect::kAllocate : Effect::kShrink;       \
      if (Decide(#name, effect, static_cast<std::uint64_t>(length), fd) == Action::kFail) { \
        errno = ENOSPC;                                                                \
        return -1;                                                                     \
      }                                                                                \
    }                                                                                  \
    return real(fd, length);                                                           \
  }
NORVO_FTRUNCATE(ftruncate)
NORVO_FTRUNCATE(ftruncate64)

#define NORVO_FLUSH(name)                                                           \
  int name(int fd) {                                                                \
    NORVO_REAL(name);                                                               \
    if (IsRegularFile(fd) && Decide(#name, Effect::kFlush, 0, fd) == Action::kFail) { \
      errno = ENOSPC;                                                               \
      return -1;                                                                    \
    }                                                                               \
    return real(fd);                                                                \
  }
NORVO_FLUSH(fsync)
NORVO_FLUSH(fdatasync)

int rename(const char* from, const char* to) {
  NORVO_REAL(rename);
  Decide("rename", Effect::kName, 0, -1, to);
  return real(from, to);
}

int renameat(int from_dir, const char* from, int to_dir, const char* to) {
  NORVO_REAL(renameat);
  Decide("renameat", Effect::kName, 0, -1, to);
  return real(from_dir, from, to_dir, to);
}

int renameat2(int from_dir, const char* from, int to_dir, const char* to, unsigned int flags) {
  NORVO_REAL(renameat2);
  Decide("renameat2", Effect::kName, 0, -1, to);
  return real(from_dir, from, to_dir, to, flags);
}

int unlink(const char* path) {
  NORVO_REAL(unlink);
  if (NamesRegularFile(AT_FDCWD, path)) Decide("unlink", Effect::kName, 0, -1, path);
  return real(path);
}

// std::filesystem::remove deletes through remove(), which reaches unlink
// inside libc where it cannot be seen.
int remove(const char* path) {
  NORVO_REAL(remove);
  if (NamesRegularFile(AT_FDCWD, path)) Decide("remove", Effect::kName, 0, -1, path);
  return real(path);
}

int unlinkat(int dir_fd, const char* path, int flags) {
  NORVO_REAL(unlinkat);
  if ((flags & AT_REMOVEDIR) == 0 && NamesRegularFile(dir_fd, path)) Decide("unlinkat", Effect::kName, 0, -1, path);
  return real(dir_fd, path, flags);
}

}  // extern "C"
