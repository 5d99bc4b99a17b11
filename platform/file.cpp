// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/byte_io.h"
#include "platform/fault_injection.h"

namespace norvo {
namespace {

// Files this process holds open, by identity: how many openers, how many of
// them may write. Gives the classic answers err::kOpenForWriting (already open for writing)
// and err::kFileBusy (cannot delete an open file) that POSIX does not give by itself.
struct OpenCounts {
  int openers = 0;
  int writers = 0;
};
std::mutex g_open_mutex;
std::map<std::pair<std::uint64_t, std::uint64_t>, OpenCounts> g_open_files;

constexpr char kTypeAttribute[] = "user.norvo.type";
constexpr char kCreatorAttribute[] = "user.norvo.creator";

ErrorCode LastError() { return ErrorFromErrno(errno); }

}  // namespace

File::~File() { close(); }

File::File(File&& other) noexcept { *this = std::move(other); }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = std::exchange(other.fd_, -1);
    permission_ = other.permission_;
    pos_ = other.pos_;
    path_ = std::move(other.path_);
    device_ = other.device_;
    inode_ = other.inode_;
  }
  return *this;
}

ErrorCode File::open(const FileSpec& spec, Permission permission) {
  close();
  if (spec.path.empty()) return err::kBadName;
  int flags = (permission == Permission::kReadWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC;
  // Non-blocking, so that opening a FIFO or device never waits; only
  // regular files are taken.
  int fd = ::open(spec.path.c_str(), flags | O_NONBLOCK);
  if (fd < 0) return errno == EISDIR ? err::kNotAFile : LastError();
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return err::kNotAFile;
  }
  {
    std::lock_guard lock(g_open_mutex);
    auto& counts = g_open_files[{st.st_dev, st.st_ino}];
    if (permission == Permission::kReadWrite && counts.writers > 0) {
      ::close(fd);
      return err::kOpenForWriting;
    }
    ++counts.openers;
    if (permission == Permission::kReadWrite) ++counts.writers;
  }
  fd_ = fd;
  permission_ = permission;
  pos_ = 0;
  path_ = spec.path;
  device_ = st.st_dev;
  inode_ = st.st_ino;
  return err::kNone;
}

void File::forget() {
  std::lock_guard lock(g_open_mutex);
  auto it = g_open_files.find({device_, inode_});
  if (it == g_open_files.end()) return;
  --it->second.openers;
  if (permission_ == Permission::kReadWrite) --it->second.writers;
  if (it->second.openers <= 0) g_open_files.erase(it);
}

void File::close() {
  if (fd_ < 0) return;
  forget();
  ::close(fd_);
  fd_ = -1;
  pos_ = 0;
}

ErrorCode File::read(std::int64_t* count, void* buffer) {
  if (fd_ < 0) return err::kBadFileNumber;
  if (*count < 0) return err::kParam;
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::int64_t wanted = *count;
  std::int64_t done = 0;
  while (done < wanted) {
    ssize_t n = ::pread(fd_, out + done, static_cast<std::size_t>(wanted - done), pos_ + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      *count = done;
      pos_ += done;
      return LastError();
    }
    if (n == 0) break;
    done += n;
  }
  *count = done;
  pos_ += done;
  return done < wanted ? err::kEndOfFile : err::kNone;
}

ErrorCode File::readExact(std::span<std::uint8_t> out) {
  auto count = static_cast<std::int64_t>(out.size());
  return read(&count, out.data());
}

ErrorCode File::readAt(std::int64_t offset, std::span<std::uint8_t> out) const {
  if (fd_ < 0) return err::kBadFileNumber;
  if (offset < 0) return err::kBadPosition;
  std::size_t done = 0;
  while (done < out.size()) {
    ssize_t n = ::pread(fd_, out.data() + done, out.size() - done, offset + static_cast<std::int64_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    if (n == 0) return err::kEndOfFile;
    done += static_cast<std::size_t>(n);
  }
  return err::kNone;
}

ErrorCode File::write(std::span<const std::uint8_t> data) {
  ErrorCode e = writeAt(pos_, data);
  if (e == err::kNone) pos_ += static_cast<std::int64_t>(data.size());
  return e;
}

ErrorCode File::writeAt(std::int64_t offset, std::span<const std::uint8_t> data) {
  if (fd_ < 0) return err::kBadFileNumber;
  if (permission_ != Permission::kReadWrite) return err::kPermission;
  if (offset < 0) return err::kBadPosition;
  if (ErrorCode injected = faults::BeforeWrite(); injected != err::kNone) return injected;
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::pwrite(fd_, data.data() + done, data.size() - done, offset + static_cast<std::int64_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    done += static_cast<std::size_t>(n);
  }
  return err::kNone;
}

ErrorCode File::copyFrom(const File& source, std::int64_t source_offset, std::int64_t count) {
  if (fd_ < 0 || source.fd_ < 0) return err::kBadFileNumber;
  if (permission_ != Permission::kReadWrite) return err::kPermission;
  if (count < 0 || source_offset < 0) return err::kParam;
  if (ErrorCode injected = faults::BeforeWrite(); injected != err::kNone) return injected;
  loff_t in = source_offset;
  loff_t out = pos_;
  std::int64_t left = count;
  bool kernel_copy = source.fd_ != fd_;
  while (left > 0 && kernel_copy) {
    ssize_t n = ::copy_file_range(source.fd_, &in, fd_, &out, static_cast<std::size_t>(left), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
      kernel_copy = false;
      break;
    }
    if (n < 0) return LastError();
    if (n == 0) return err::kEndOfFile;
    left -= n;
  }
  // Fallback, also used within one file: read each block whole, then write it.
  std::vector<std::uint8_t> buffer;
  while (left > 0) {
    std::size_t block = static_cast<std::size_t>(std::min<std::int64_t>(left, 1 << 20));
    buffer.resize(block);
    if (ErrorCode e = source.readAt(in, buffer); e != err::kNone) return e;
    std::size_t done = 0;
    while (done < block) {
      ssize_t n = ::pwrite(fd_, buffer.data() + done, block - done, out + static_cast<loff_t>(done));
      if (n < 0) {
        if (errno == EINTR) continue;
        return LastError();
      }
      done += static_cast<std::size_t>(n);
    }
    in += static_cast<loff_t>(block);
    out += static_cast<loff_t>(block);
    left -= static_cast<std::int64_t>(block);
  }
  pos_ += count;
  return err::kNone;
}

ErrorCode File::position(std::int64_t* out) const {
  if (fd_ < 0) return err::kBadFileNumber;
  *out = pos_;
  return err::kNone;
}

ErrorCode File::setPosition(SeekMode mode, std::int64_t offset) {
  if (fd_ < 0) return err::kBadFileNumber;
  std::int64_t base = 0;
  if (mode == SeekMode::kFromEnd) {
    if (ErrorCode e = endOfFile(&base); e != err::kNone) return e;
  } else if (mode == SeekMode::kFromCurrent) {
    base = pos_;
  }
  std::int64_t target = base + offset;
  if (target < 0) return err::kBadPosition;
  std::int64_t length = 0;
  if (ErrorCode e = endOfFile(&length); e != err::kNone) return e;
  // Positions past the end are refused, as the classic service does.
  if (target > length) {
    pos_ = length;
    return err::kEndOfFile;
  }
  pos_ = target;
  return err::kNone;
}

ErrorCode File::endOfFile(std::int64_t* out) const {
  if (fd_ < 0) return err::kBadFileNumber;
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return LastError();
  *out = static_cast<std::int64_t>(st.st_size) + faults::LengthBias();
  return err::kNone;
}

ErrorCode File::setEndOfFile(std::int64_t length) {
  if (fd_ < 0) return err::kBadFileNumber;
  if (permission_ != Permission::kReadWrite) return err::kPermission;
  if (length < 0) return err::kParam;
  if (ErrorCode injected = faults::BeforeWrite(); injected != err::kNone) return injected;
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return LastError();
  if (length > st.st_size) {
    // Pre-size with real blocks, so that a full disk shows now and not later.
    int rc = ::posix_fallocate(fd_, st.st_size, length - st.st_size);
    if (rc == EOPNOTSUPP || rc == EINVAL) {
      if (::ftruncate(fd_, length) != 0) return LastError();
    } else if (rc != 0) {
      if (::ftruncate(fd_, st.st_size) != 0) { /* keep the first error */ }
      return ErrorFromErrno(rc);
    }
  } else if (::ftruncate(fd_, length) != 0) {
    return LastError();
  }
  if (pos_ > length) pos_ = length;
  return err::kNone;
}

ErrorCode File::flush() {
  if (fd_ < 0) return err::kBadFileNumber;
  if (::fdatasync(fd_) != 0 && errno != EINVAL) return LastError();
  return err::kNone;
}

ErrorCode CreateFile(const FileSpec& spec, std::uint32_t creator, std::uint32_t type) {
  if (spec.path.empty()) return err::kBadName;
  int fd = ::open(spec.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return LastError();
  ::close(fd);
  SetFileTypeAndCreator(spec, creator, type);
  return err::kNone;
}

void SetFileTypeAndCreator(const FileSpec& spec, std::uint32_t creator, std::uint32_t type) {
  std::string type_code = FourCCToString(type);
  std::string creator_code = FourCCToString(creator);
  // Best effort: file systems without user attributes simply keep no codes.
  if (type != 0) (void)::setxattr(spec.path.c_str(), kTypeAttribute, type_code.data(), 4, 0);
  if (creator != 0) (void)::setxattr(spec.path.c_str(), kCreatorAttribute, creator_code.data(), 4, 0);
}

void GetFileTypeAndCreator(const FileSpec& spec, std::uint32_t* type, std::uint32_t* creator) {
  auto get = [&](const char* name) -> std::uint32_t {
    std::uint8_t code[4] = {};
    if (::getxattr(spec.path.c_str(), name, code, sizeof code) != 4) return 0;
    ByteReader r(code);
    return r.u32be();
  };
  if (type) *type = get(kTypeAttribute);
  if (creator) *creator = get(kCreatorAttribute);
}

ErrorCode DeleteFile(const FileSpec& spec) {
  if (spec.path.empty()) return err::kBadName;
  struct stat st {};
  if (::lstat(spec.path.c_str(), &st) != 0) return LastError();
  {
    std::lock_guard lock(g_open_mutex);
    if (g_open_files.count({st.st_dev, st.st_ino}) != 0) return err::kFileBusy;
  }
  if (::unlink(spec.path.c_str()) != 0) return LastError();
  return err::kNone;
}

ErrorCode FreeBytes(const std::string& path, std::uint64_t* out) {
  if (auto injected = faults::FreeBytesOverride()) {
    *out = *injected;
    return err::kNone;
  }
  struct statvfs vfs {};
  if (::statvfs(path.c_str(), &vfs) != 0) return LastError();
  *out = static_cast<std::uint64_t>(vfs.f_bavail) * vfs.f_frsize;
  return err::kNone;
}

}  // namespace norvo
