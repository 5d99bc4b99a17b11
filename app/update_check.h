// SPDX-License-Identifier: GPL-3.0-or-later
// The check for a newer program version. The maker's web site keeps a small
// text file; it is fetched over HTTP with the system's version in the query,
// and the line for this product says the latest build, the lowest build that
// updates to it for free, and the version's name.
//
// Reply format: one record a line; empty lines and lines beginning with '#'
// are skipped; a record is
//
//   PRODUCT  LATEST_BUILD  LOWEST_FREE_BUILD  VERSION TEXT...
//
// with the first three fields separated by blanks or tabs and the version
// text the rest of the line (it may hold blanks; at most 20 characters are
// kept). Lines may end in CR LF. The first record whose product name begins
// with "NorvoMediaLin" is used; a line that does not parse is skipped. The
// Windows build's record ("NorvoMediaWin") is deliberately not taken: its
// builds are not offered to Linux users, so a file without a Linux record
// simply reports no new version.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/error_codes.h"

namespace norvo::app {

// This program's build number.
inline constexpr std::uint32_t kBuildNumber = 16422;
// The product names this build answers to begin with these 13 characters.
inline constexpr std::string_view kUpdateProductPrefix = "NorvoMediaLin";
inline constexpr std::size_t kMaxVersionTextLength = 20;  // characters
// Where the check asks by default (a setting may name another address) and
// the page that offers the download.
inline constexpr std::string_view kDefaultUpdateUrl = "https://www.norvomedia.com/update/norvomedia.txt";
inline constexpr std::string_view kDownloadPageUrl = "https://www.norvomedia.com/download/";
// Bounds of the request: the reply is a few lines, and a check must never
// keep the program waiting long.
inline constexpr long kUpdateConnectTimeoutSeconds = 10;
inline constexpr long kUpdateTotalTimeoutSeconds = 30;
inline constexpr std::size_t kMaxUpdateReplyBytes = 64 * 1024;
inline constexpr long kMaxUpdateRedirects = 5;

// The kernel's major and minor version.
struct SystemVersion {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
};
// From uname's release ("6.1.0-18-amd64" -> 6, 1); nullopt when it cannot
// be read.
std::optional<SystemVersion> ParseKernelRelease(std::string_view release);
std::optional<SystemVersion> KernelVersion();

// "?os=linux&MajVers=0x%08x&MinVers=0x%08x", or with "unknown" for both
// numbers when the version is not known.
std::string UpdateQuery(const std::optional<SystemVersion>& version);
// The address with the query appended ('&' instead of '?' when the address
// already has a query).
std::string UpdateRequestUrl(std::string_view base_url, const std::optional<SystemVersion>& version);

// One product's record of the reply.
struct UpdateRecord {
  std::string product;
  std::uint32_t latest_build = 0;
  std::uint32_t lowest_free_build = 0;
  std::string version;  // UTF-8, at most kMaxVersionTextLength characters
};
// The first usable record for `product_prefix`; nullopt when there is none.
std::optional<UpdateRecord> ParseUpdateReply(std::string_view reply,
                                             std::string_view product_prefix = kUpdateProductPrefix);

struct UpdateCheckResult {
  ErrorCode code = err::kNone;  // the request failed: nothing else is known
  bool newer = false;           // a build later than this one exists
  bool free = false;            // ... and it updates this build for free
  std::optional<std::string> version;  // the latest version's text, from the record
  // What to tell the user; empty when nothing is to be said (an automatic
  // check says nothing unless there is a newer version).
  std::string message;
};

// The outcome of a fetched reply (or of the failure to fetch one).
UpdateCheckResult EvaluateUpdate(const std::optional<UpdateRecord>& record, bool asked_by_user,
                                 std::uint32_t this_build = kBuildNumber);

// Fetches `base_url` with the query and evaluates the reply. A server that
// cannot be reached, or answers with an HTTP error, ends an automatic check
// silently and a check the user asked for with a message.
UpdateCheckResult CheckForUpdate(bool asked_by_user, std::string_view base_url = kDefaultUpdateUrl);

// Message texts.
std::string NewVersionMessage(std::string_view version, bool free);
std::string UpToDateMessage();
std::string UpdateServerUnreachableMessage();

}  // namespace norvo::app
