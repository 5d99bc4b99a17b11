// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/update_check.h"

#include <curl/curl.h>
#include <sys/utsname.h>

#include <array>
#include <charconv>
#include <cstring>
#include <cstdio>
#include <memory>
#include <mutex>

#include "app/messages.h"
#include "platform/plugin_module.h"

namespace norvo::app {
namespace {

constexpr char kNewVersionText[] =
    "A new version (^0) is available for download. Would you like to go to the website?";
constexpr char kNewFreeVersionText[] =
    "A new version (^0) is available for free download. Would you like to go to the website?";
constexpr char kUpToDateText[] = "Your software is up to date. There is no new version available at this time.";
constexpr char kUnreachableText[] =
    "The update information could not be downloaded. Please check your Internet connection and try again later.";
constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";
constexpr long kFirstHttpErrorStatus = 400;
constexpr char kUserAgentFormat[] = "NorvoMedia/%u (Linux)";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Takes the next blank-separated field off the front of `line`.
std::string_view NextField(std::string_view& line) {
  line = TrimBlanks(line);
  std::size_t end = 0;
  while (end < line.size() && !IsBlank(line[end])) ++end;
  std::string_view field = line.substr(0, end);
  line.remove_prefix(end);
  return field;
}

std::optional<std::uint32_t> ParseBuild(std::string_view text) {
  std::uint32_t value = 0;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
  return value;
}

// The first `count` characters of UTF-8 text; a character is a lead byte
// with its continuation bytes, so no sequence is cut in two.
std::string FirstCharacters(std::string_view text, std::size_t count) {
  std::size_t end = 0;
  std::size_t characters = 0;
  while (end < text.size()) {
    const bool continuation = (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80;
    if (!continuation) {
      if (characters == count) break;
      ++characters;
    }
    ++end;
  }
  return std::string(text.substr(0, end));
}

std::optional<UpdateRecord> ParseRecord(std::string_view line, std::string_view product_prefix) {
  UpdateRecord record;
  record.product = NextField(line);
  if (!record.product.starts_with(product_prefix)) return std::nullopt;
  std::optional<std::uint32_t> latest = ParseBuild(NextField(line));
  std::optional<std::uint32_t> lowest_free = ParseBuild(NextField(line));
  std::string_view version = TrimBlanks(line);
  if (!latest || !lowest_free || version.empty()) return std::nullopt;
  record.latest_build = *latest;
  record.lowest_free_build = *lowest_free;
  record.version = FirstCharacters(version, kMaxVersionTextLength);
  return record;
}

// --- HTTP --------------------------------------------------------------------

// libcurl (and the TLS, Kerberos and LDAP libraries under it) is opened on
// the first check rather than linked: every command would otherwise pay for
// loading it at start-up, and only this one ever downloads.
struct Curl {
  CURLcode (*global_init)(long) = nullptr;
  CURL* (*easy_init)() = nullptr;
  CURLcode (*easy_setopt)(CURL*, CURLoption, ...) = nullptr;
  CURLcode (*easy_perform)(CURL*) = nullptr;
  CURLcode (*easy_getinfo)(CURL*, CURLINFO, ...) = nullptr;
  void (*easy_cleanup)(CURL*) = nullptr;
  bool ready = false;
};

template <typename F>
bool Bind(const plugins::PluginModule& module, const char* name, F* out) {
  void* address = module.symbol(name, nullptr);
  std::memcpy(out, &address, sizeof address);
  return address != nullptr;
}

// libcurl, opened and set up once; `ready` false when it is not installed.
const Curl& LoadCurl() {
  static const Curl curl = [] {
    Curl c;
    plugins::PluginModule module;
    if (plugins::PluginModule::Open("libcurl.so.4", &module, nullptr) != err::kNone) return c;
    c.ready = Bind(module, "curl_global_init", &c.global_init) && Bind(module, "curl_easy_init", &c.easy_init) &&
              Bind(module, "curl_easy_setopt", &c.easy_setopt) && Bind(module, "curl_easy_perform", &c.easy_perform) &&
              Bind(module, "curl_easy_getinfo", &c.easy_getinfo) && Bind(module, "curl_easy_cleanup", &c.easy_cleanup) &&
              c.global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return c;
  }();
  return curl;
}

struct CurlDeleter {
  void operator()(CURL* handle) const { LoadCurl().easy_cleanup(handle); }
};
using CurlHandle = std::unique_ptr<CURL, CurlDeleter>;

struct Reply {
  std::string body;
  bool too_long = false;
};

std::size_t CollectReply(char* data, std::size_t size, std::size_t count, void* user) {
  auto* reply = static_cast<Reply*>(user);
  const std::size_t bytes = size * count;
  if (reply->body.size() + bytes > kMaxUpdateReplyBytes) {
    reply->too_long = true;
    return 0;  // ends the transfer
  }
  reply->body.append(data, bytes);
  return bytes;
}

// Fetches `url`; the body, or the code of the failure.
ErrorCode Fetch(const std::string& url, std::string* body) {
  const Curl& lib = LoadCurl();
  if (!lib.ready) return err::kIo;

  CurlHandle curl(lib.easy_init());
  if (!curl) return err::kOutOfMemory;
  std::array<char, 64> user_agent{};
  std::snprintf(user_agent.data(), user_agent.size(), kUserAgentFormat, static_cast<unsigned>(kBuildNumber));
  Reply reply;
  CURL* c = curl.get();
  lib.easy_setopt(c, CURLOPT_URL, url.c_str());
  lib.easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  lib.easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  lib.easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  lib.easy_setopt(c, CURLOPT_MAXREDIRS, kMaxUpdateRedirects);
  lib.easy_setopt(c, CURLOPT_CONNECTTIMEOUT, kUpdateConnectTimeoutSeconds);
  lib.easy_setopt(c, CURLOPT_TIMEOUT, kUpdateTotalTimeoutSeconds);
  lib.easy_setopt(c, CURLOPT_NOSIGNAL, 1L);  // the check may run off the main thread
  lib.easy_setopt(c, CURLOPT_USERAGENT, user_agent.data());
  lib.easy_setopt(c, CURLOPT_WRITEFUNCTION, CollectReply);
  lib.easy_setopt(c, CURLOPT_WRITEDATA, &reply);
  const CURLcode result = lib.easy_perform(c);
  if (result != CURLE_OK) return reply.too_long ? err::kFileTooLarge : err::kIo;
  long status = 0;
  lib.easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  if (status >= kFirstHttpErrorStatus) return err::kFileNotFound;
  *body = std::move(reply.body);
  return err::kNone;
}

}  // namespace

std::optional<SystemVersion> ParseKernelRelease(std::string_view release) {
  SystemVersion version;
  const char* end = release.data() + release.size();
  auto [after_major, e1] = std::from_chars(release.data(), end, version.major);
  if (e1 != std::errc() || after_major == end || *after_major != '.') return std::nullopt;
  auto [after_minor, e2] = std::from_chars(after_major + 1, end, version.minor);
  if (e2 != std::errc()) return std::nullopt;
  return version;
}

std::optional<SystemVersion> KernelVersion() {
  utsname names{};
  if (::uname(&names) != 0) return std::nullopt;
  return ParseKernelRelease(names.release);
}

std::string UpdateQuery(const std::optional<SystemVersion>& version) {
  if (!version) return "?os=linux&MajVers=unknown&MinVers=unknown";
  std::array<char, 64> query{};
  std::snprintf(query.data(), query.size(), "?os=linux&MajVers=0x%08x&MinVers=0x%08x",
                static_cast<unsigned>(version->major), static_cast<unsigned>(version->minor));
  return query.data();
}

std::string UpdateRequestUrl(std::string_view base_url, const std::optional<SystemVersion>& version) {
  std::string query = UpdateQuery(version);
  if (base_url.find('?') != std::string_view::npos) query[0] = '&';
  return std::string(base_url) + query;
}

std::optional<UpdateRecord> ParseUpdateReply(std::string_view reply, std::string_view product_prefix) {
  if (reply.starts_with(kUtf8ByteOrderMark)) reply.remove_prefix(kUtf8ByteOrderMark.size());
  while (!reply.empty()) {
    std::size_t end = reply.find('\n');
    std::string_view line = reply.substr(0, end);
    reply.remove_prefix(end == std::string_view::npos ? reply.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    if (std::optional<UpdateRecord> record = ParseRecord(line, product_prefix)) return record;
  }
  return std::nullopt;
}

UpdateCheckResult EvaluateUpdate(const std::optional<UpdateRecord>& record, bool asked_by_user,
                                 std::uint32_t this_build) {
  UpdateCheckResult result;
  if (record) {
    result.version = record->version;
    result.newer = record->latest_build > this_build;
    result.free = result.newer && record->lowest_free_build <= this_build;
  }
  if (result.newer) {
    result.message = NewVersionMessage(*result.version, result.free);
  } else if (asked_by_user) {
    result.message = UpToDateMessage();
  }
  return result;
}

UpdateCheckResult CheckForUpdate(bool asked_by_user, std::string_view base_url) {
  std::string body;
  const ErrorCode code = Fetch(UpdateRequestUrl(base_url, KernelVersion()), &body);
  if (code != err::kNone) {
    UpdateCheckResult result;
    result.code = code;
    if (asked_by_user) result.message = UpdateServerUnreachableMessage();
    return result;
  }
  return EvaluateUpdate(ParseUpdateReply(body), asked_by_user);
}

std::string NewVersionMessage(std::string_view version, bool free) {
  return FormatMessage(free ? kNewFreeVersionText : kNewVersionText, {std::string(version)});
}
std::string UpToDateMessage() { return kUpToDateText; }
std::string UpdateServerUnreachableMessage() { return kUnreachableText; }

}  // namespace norvo::app
