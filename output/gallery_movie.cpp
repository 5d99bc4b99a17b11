// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/gallery_movie.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

#include "platform/byte_io.h"
#include "platform/file_ops.h"

namespace norvo::output {
namespace {

constexpr int kMaxTopLevelAtoms = 4096;
constexpr int kMaxDepth = 16;
constexpr std::uint64_t kMaxIndexBytes = 256ull << 20;  // an index larger than this is left alone

struct Atom {
  std::uint32_t type = 0;
  std::uint64_t offset = 0;
  std::uint64_t size = 0;  // header included
};

// Closes a descriptor when it goes out of scope.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

bool ReadAt(int fd, std::uint64_t offset, std::span<std::uint8_t> out) {
  std::size_t done = 0;
  while (done < out.size()) {
    const ssize_t n = ::pread(fd, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// The top-level atoms of a file of `file_size` bytes.
bool TopLevelAtoms(int fd, std::uint64_t file_size, std::vector<Atom>* atoms) {
  std::uint64_t offset = 0;
  while (offset < file_size) {
    if (atoms->size() >= kMaxTopLevelAtoms || file_size - offset < 8) return false;
    std::uint8_t header[16];
    if (!ReadAt(fd, offset, std::span(header, 8))) return false;
    ByteReader r(std::span(header, 8));
    Atom a;
    a.offset = offset;
    a.size = r.u32be();
    a.type = r.u32be();
    if (a.size == 1) {
      if (file_size - offset < 16 || !ReadAt(fd, offset + 8, std::span(header + 8, 8))) return false;
      ByteReader big(std::span(header + 8, 8));
      a.size = big.u64be();
      if (a.size < 16) return false;
    } else if (a.size == 0) {
      a.size = file_size - offset;
    } else if (a.size < 8) {
      return false;
    }
    if (a.size > file_size - offset) return false;
    atoms->push_back(a);
    offset += a.size;
  }
  return true;
}

// Adds `shift` to every chunk offset in the index, walking its containers.
bool ShiftChunkOffsets(std::span<std::uint8_t> bytes, std::uint64_t shift, int depth) {
  if (depth > kMaxDepth) return false;
  std::size_t offset = 0;
  while (offset < bytes.size()) {
    if (bytes.size() - offset < 8) return true;  // padding after the last atom
    ByteReader r(bytes.subspan(offset));
    std::uint64_t size = r.u32be();
    const std::uint32_t type = r.u32be();
    std::size_t header = 8;
    if (size == 1) {
      size = r.u64be();
      header = 16;
    } else if (size == 0) {
      size = bytes.size() - offset;
    }
    if (!r.ok() || size < header || size > bytes.size() - offset) return false;
    std::span<std::uint8_t> body = bytes.subspan(offset + header, static_cast<std::size_t>(size) - header);
    switch (type) {
      case FourCC("cmov"): return false;  // a compressed index cannot be patched
      case FourCC("moov"): case FourCC("trak"): case FourCC("mdia"): case FourCC("minf"): case FourCC("stbl"):
        if (!ShiftChunkOffsets(body, shift, depth + 1)) return false;
        break;
      case FourCC("stco"):
      case FourCC("co64"): {
        const bool wide = type == FourCC("co64");
        ByteReader table(body);
        table.skip(4);  // version and flags
        const std::uint32_t count = table.u32be();
        const std::size_t width = wide ? 8 : 4;
        if (!table.ok() || count > (body.size() - 8) / width) return false;
        FixedBytes patch(body);
        for (std::uint32_t i = 0; i < count; ++i) {
          const std::size_t at = 8 + i * width;
          if (wide) {
            const std::uint64_t v = (std::uint64_t{patch.getU32be(at)} << 32) | patch.getU32be(at + 4);
            const std::uint64_t shifted = v + shift;
            patch.setU32be(at, static_cast<std::uint32_t>(shifted >> 32));
            patch.setU32be(at + 4, static_cast<std::uint32_t>(shifted));
          } else {
            const std::uint64_t shifted = std::uint64_t{patch.getU32be(at)} + shift;
            if (shifted > 0xFFFFFFFFu) return false;  // would need co64: left as it is
            patch.setU32be(at, static_cast<std::uint32_t>(shifted));
          }
        }
        if (!patch.ok()) return false;
        break;
      }
      default: break;
    }
    offset += static_cast<std::size_t>(size);
  }
  return true;
}

bool WriteAll(int fd, std::span<const std::uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

ErrorCode PlanFastStartFile(const std::string& path, FastStartPlan* plan) {
  *plan = FastStartPlan{};
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return ErrorFromErrno(errno);
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return ErrorFromErrno(errno);
  if (!S_ISREG(st.st_mode)) return err::kNotAFile;
  std::vector<Atom> atoms;
  if (!TopLevelAtoms(fd.get(), static_cast<std::uint64_t>(st.st_size), &atoms)) return err::kParam;
  const auto moov = std::find_if(atoms.begin(), atoms.end(), [](const Atom& a) { return a.type == FourCC("moov"); });
  const auto mdat = std::find_if(atoms.begin(), atoms.end(), [](const Atom& a) { return a.type == FourCC("mdat"); });
  if (moov == atoms.end() || mdat == atoms.end() || moov < mdat) return err::kParam;  // nothing to move
  if (moov->size > kMaxIndexBytes) return err::kParam;

  std::vector<std::uint8_t> index(static_cast<std::size_t>(moov->size));
  if (!ReadAt(fd.get(), moov->offset, index)) return err::kIo;
  // Every atom before the index's new place keeps its offset; what follows
  // it moves by the index's size.
  if (!ShiftChunkOffsets(std::span(index), moov->size, 0)) return err::kParam;
  const bool ftyp_first = atoms.front().type == FourCC("ftyp");
  if (ftyp_first) {
    plan->head.resize(static_cast<std::size_t>(atoms.front().size));
    if (!ReadAt(fd.get(), 0, plan->head)) return err::kIo;
  }
  plan->head.insert(plan->head.end(), index.begin(), index.end());
  for (auto it = atoms.begin() + (ftyp_first ? 1 : 0); it != atoms.end(); ++it) {
    if (it == moov) continue;
    plan->ranges.emplace_back(it->offset, it->size);
  }
  return err::kNone;
}

ErrorCode WriteFlattenedMovie(const std::string& from, const std::string& to) {
  FastStartPlan plan;
  if (PlanFastStartFile(from, &plan) != err::kNone) {
    return CopyFileKeepingAttributes(from, to, CopyDurability::kCached);
  }
  Fd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) return ErrorFromErrno(errno);
  Fd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
  if (out.get() < 0) return ErrorFromErrno(errno);
  bool ok = WriteAll(out.get(), plan.head);
  std::vector<std::uint8_t> buffer(1 << 20);
  for (const auto& [offset, length] : plan.ranges) {
    for (std::uint64_t done = 0; ok && done < length;) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), length - done));
      ok = ReadAt(in.get(), offset + done, std::span(buffer.data(), n)) && WriteAll(out.get(), std::span(buffer.data(), n));
      done += n;
    }
  }
  const int fd = out.release();
  if (::close(fd) != 0) ok = false;
  if (!ok) {
    const ErrorCode e = errno != 0 ? ErrorFromErrno(errno) : err::kIo;
    ::unlink(to.c_str());
    return e == err::kNone ? err::kIo : e;
  }
  return err::kNone;
}

}  // namespace norvo::output
