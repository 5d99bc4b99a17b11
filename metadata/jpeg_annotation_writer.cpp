// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/jpeg_annotation_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "metadata/photoshop_resources.h"
#include "metadata/xmp_mapping.h"
#include "platform/byte_io.h"

namespace norvo::metadata {
namespace {

constexpr ErrorCode kNotJpeg = -8969;
constexpr std::uint8_t kMarkerPrefix = 0xFF;
constexpr std::uint8_t kStartOfImage = 0xD8;
constexpr std::uint8_t kEndOfImage = 0xD9;
constexpr std::uint8_t kStartOfScan = 0xDA;
constexpr std::uint8_t kApp0 = 0xE0;
constexpr std::uint8_t kApp1 = 0xE1;
constexpr std::uint8_t kApp13 = 0xED;
constexpr std::uint8_t kApp15 = 0xEF;
constexpr std::size_t kMaxSegmentData = 0xFFFF - 2;  // the length field counts itself
constexpr std::string_view kXmpSegmentPrefix{"http://ns.adobe.com/xap/1.0/\0", 29};
constexpr std::string_view kPacketTrailer = "<?xpacket end";
constexpr std::size_t kXmpGrowth = 4096;

struct Segment {
  std::uint8_t marker = 0;
  std::size_t start = 0;  // of the 0xFF
  std::size_t end = 0;    // past the data
  std::span<const std::uint8_t> data;
};

bool StartsWith(std::span<const std::uint8_t> bytes, std::string_view prefix) {
  return bytes.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), bytes.begin(),
                    [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}

// The segments before the image data. *scan receives where the start-of-scan
// marker (or the end of image) begins: everything from there on is copied
// untouched.
bool ListSegments(std::span<const std::uint8_t> jpeg, std::vector<Segment>* segments, std::size_t* scan) {
  ByteReader r(jpeg);
  if (r.u8() != kMarkerPrefix || r.u8() != kStartOfImage) return false;
  while (r.ok()) {
    std::size_t start = r.position();
    if (r.u8() != kMarkerPrefix) return false;
    std::uint8_t marker = r.u8();
    while (marker == kMarkerPrefix && r.ok()) marker = r.u8();  // fill bytes
    if (!r.ok()) return false;
    if (marker == kStartOfScan || marker == kEndOfImage) {
      *scan = start;
      return true;
    }
    std::uint16_t length = r.u16be();
    if (length < 2) return false;
    Segment s;
    s.marker = marker;
    s.start = start;
    s.data = r.bytes(length - 2u);
    s.end = r.position();
    if (!r.ok()) return false;
    segments->push_back(s);
  }
  return false;
}

void AppendSegment(std::vector<std::uint8_t>& out, std::uint8_t marker, std::span<const std::uint8_t> prefix,
                   std::span<const std::uint8_t> data) {
  ByteWriter w(4 + prefix.size() + data.size());
  w.u8(kMarkerPrefix);
  w.u8(marker);
  w.u16be(static_cast<std::uint16_t>(2 + prefix.size() + data.size()));
  w.bytes(prefix);
  w.bytes(data);
  const std::vector<std::uint8_t>& bytes = w.buffer();
  out.insert(out.end(), bytes.begin(), bytes.end());
}

std::span<const std::uint8_t> AsBytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The packet rewritten from the block. When its padding cannot absorb the
// change, the padding is widened (spaces before the trailer) and it is tried
// once more.
ErrorCode RewriteXmp(std::span<const std::uint8_t> old_packet, std::span<const std::uint8_t> block,
                     std::vector<std::uint8_t>* out) {
  out->assign(old_packet.begin(), old_packet.end());
  ErrorCode e = WriteAnnotationsIntoXmp(*out, block);
  if (e != kXmpPacketTooSmall) return e;
  std::string_view text(reinterpret_cast<const char*>(old_packet.data()), old_packet.size());
  std::size_t trailer = text.rfind(kPacketTrailer);
  std::size_t at = trailer == std::string_view::npos ? old_packet.size() : trailer;
  std::size_t growth = std::max(kXmpGrowth, block.size() * 2);
  out->assign(old_packet.begin(), old_packet.end());
  out->insert(out->begin() + static_cast<std::ptrdiff_t>(at), growth, std::uint8_t{' '});
  return WriteAnnotationsIntoXmp(*out, block);
}

ErrorCode FromErrno() { return ErrorFromErrno(errno); }

ErrorCode WriteAll(int fd, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return FromErrno();
    }
    bytes = bytes.subspan(static_cast<std::size_t>(n));
  }
  return err::kNone;
}

ErrorCode ReadAll(const std::string& path, std::vector<std::uint8_t>* out) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return FromErrno();
  ErrorCode result = err::kNone;
  std::uint8_t buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      result = FromErrno();
      break;
    }
    if (n == 0) break;
    out->insert(out->end(), buffer, buffer + n);
  }
  ::close(fd);
  return result;
}

}  // namespace

ErrorCode EmbedAnnotationsInJpeg(std::span<const std::uint8_t> jpeg, const JpegAnnotations& annotations,
                                 std::vector<std::uint8_t>* out) {
  std::vector<Segment> segments;
  std::size_t scan = 0;
  if (!ListSegments(jpeg, &segments, &scan)) return kNotJpeg;

  const Segment* app13 = nullptr;
  const Segment* xmp = nullptr;
  for (const Segment& s : segments) {
    if (app13 == nullptr && s.marker == kApp13 && StartsWith(s.data, kPhotoshopSignature)) app13 = &s;
    if (xmp == nullptr && s.marker == kApp1 && StartsWith(s.data, kXmpSegmentPrefix)) xmp = &s;
  }

  // The IIM records; an emptied block still writes the record version, so the
  // file's old IPTC values do not come back.
  std::vector<std::uint8_t> iim =
      BuildIptcRecords(annotations.block, annotations.label, annotations.iptc_fields, annotations.max_length);
  if (iim.empty()) iim = {kIimTagMarker, kApplicationRecord, 0, 0, 2, 0, kRecordVersion};
  std::vector<std::uint8_t> resources;
  if (app13 != nullptr) resources.assign(app13->data.begin(), app13->data.end());
  if (ErrorCode e = PutPhotoshopResource(resources, kResourceIptc, iim); e != err::kNone) return e;
  // The digest describes the old records; left in place it would tell readers
  // that the records were changed behind the XMP's back.
  RemovePhotoshopResource(resources, kResourceIptcDigest);
  if (resources.size() > kMaxSegmentData) return err::kParam;

  std::vector<std::uint8_t> packet;
  if (xmp != nullptr) {
    if (ErrorCode e = RewriteXmp(xmp->data.subspan(kXmpSegmentPrefix.size()), annotations.block, &packet);
        e != err::kNone) {
      return e;
    }
    if (packet.size() + kXmpSegmentPrefix.size() > kMaxSegmentData) return err::kParam;
  }

  // A new APP13 goes after the application segments at the head of the file.
  std::size_t insert_at = 2;
  for (const Segment& s : segments) {
    if (s.marker < kApp0 || s.marker > kApp15) break;
    insert_at = s.end;
  }

  std::vector<std::uint8_t> result;
  result.reserve(jpeg.size() + resources.size() + 64);
  result.insert(result.end(), jpeg.begin(), jpeg.begin() + 2);
  std::size_t copied = 2;
  auto copy_to = [&](std::size_t end) {
    result.insert(result.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(copied),
                  jpeg.begin() + static_cast<std::ptrdiff_t>(end));
    copied = end;
  };
  for (const Segment& s : segments) {
    if (&s == app13) {
      copy_to(s.start);
      AppendSegment(result, kApp13, {}, resources);
      copied = s.end;
    } else if (&s == xmp) {
      copy_to(s.start);
      AppendSegment(result, kApp1, AsBytes(kXmpSegmentPrefix), packet);
      copied = s.end;
    }
    if (app13 == nullptr && s.end == insert_at) {
      copy_to(s.end);
      AppendSegment(result, kApp13, {}, resources);
    }
  }
  if (app13 == nullptr && insert_at == 2) {
    AppendSegment(result, kApp13, {}, resources);
  }
  copy_to(jpeg.size());
  *out = std::move(result);
  return err::kNone;
}

ErrorCode ReplaceFileSafely(const std::string& path, std::span<const std::uint8_t> bytes) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr) return FromErrno();
  std::string target(resolved);
  struct stat original {};
  if (::stat(target.c_str(), &original) != 0) return FromErrno();
  if (!S_ISREG(original.st_mode)) return err::kParam;

  std::size_t slash = target.rfind('/');
  std::string folder = target.substr(0, slash);
  std::string temp = folder + "/." + target.substr(slash + 1) + ".norvo-XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) return FromErrno();
  ErrorCode result = WriteAll(fd, bytes);
  if (result == err::kNone && ::fsync(fd) != 0) result = FromErrno();
  if (result == err::kNone && ::fchmod(fd, original.st_mode & 07777) != 0) result = FromErrno();
  if (result == err::kNone) {
    // Only the owner may give a file away; keeping the group is worth a try.
    if (::fchown(fd, original.st_uid, original.st_gid) != 0) (void)::fchown(fd, static_cast<uid_t>(-1), original.st_gid);
    const struct timespec times[2] = {original.st_atim, original.st_mtim};
    if (::futimens(fd, times) != 0) result = FromErrno();
  }
  if (::close(fd) != 0 && result == err::kNone) result = FromErrno();
  if (result == err::kNone && ::rename(temp.c_str(), target.c_str()) != 0) result = FromErrno();
  if (result != err::kNone) {
    ::unlink(temp.c_str());
    return result;
  }
  // Make the rename itself durable.
  int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return err::kNone;
}

ErrorCode WriteAnnotationsIntoJpegFile(const std::string& path, const JpegAnnotations& annotations) {
  std::vector<std::uint8_t> original;
  if (ErrorCode e = ReadAll(path, &original); e != err::kNone) return e;
  std::vector<std::uint8_t> updated;
  if (ErrorCode e = EmbedAnnotationsInJpeg(original, annotations, &updated); e != err::kNone) return e;
  return ReplaceFileSafely(path, updated);
}

}  // namespace norvo::metadata
