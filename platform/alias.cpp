// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/alias.h"

#include <sys/stat.h>

#include <cerrno>

#include "platform/byte_io.h"
#include "platform/dates.h"

namespace norvo {
namespace {

constexpr std::uint32_t kAliasMagic = FourCC("NVal");
constexpr std::uint16_t kAliasVersion = 1;

}  // namespace

ErrorCode MakeAlias(const FileSpec& spec, AliasForm form, std::vector<std::uint8_t>& out) {
  out.clear();
  const bool minimal = form == AliasForm::kMinimal;
  if (spec.path.empty()) return err::kBadName;
  struct stat st {};
  if (::stat(spec.path.c_str(), &st) != 0) return ErrorFromErrno(errno);
  std::string text = minimal ? LeafName(spec.path) : spec.path;
  if (text.size() > 0xFFFF - kAliasHeaderBytes) return err::kBadName;
  ByteWriter w(kAliasHeaderBytes + text.size());
  w.u32be(kAliasMagic);
  w.u16be(kAliasVersion);
  w.u16be(static_cast<std::uint16_t>(kAliasHeaderBytes + text.size()));
  w.u8(minimal ? 1 : 0);
  w.u8(0);
  w.u64be(static_cast<std::uint64_t>(st.st_dev));
  w.u64be(static_cast<std::uint64_t>(st.st_ino));
  w.u32be(DateTimeFromUnix(st.st_mtime));
  w.u16be(static_cast<std::uint16_t>(text.size()));
  w.bytes(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  out = w.take();
  return err::kNone;
}

bool ParseAlias(std::span<const std::uint8_t> bytes, AliasInfo& out) {
  ByteReader r(bytes);
  if (r.u32be() != kAliasMagic || r.u16be() != kAliasVersion) return false;
  std::uint16_t total = r.u16be();
  std::uint8_t kind = r.u8();
  r.skip(1);
  out.minimal = kind == 1;
  out.device = r.u64be();
  out.inode = r.u64be();
  out.modified = r.u32be();
  std::uint16_t length = r.u16be();
  auto text = r.bytes(length);
  if (!r.ok() || kind > 1 || total != kAliasHeaderBytes + length || length == 0) return false;
  out.text.assign(reinterpret_cast<const char*>(text.data()), text.size());
  return true;
}

}  // namespace norvo
