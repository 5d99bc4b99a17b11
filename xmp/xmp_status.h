// SPDX-License-Identifier: GPL-3.0-or-later
// Errors of the XMP wrapper as values. Status carries Exempi's error number
// (negative, 0 for success) and the toolkit's own words about it; Result<T>
// pairs a value that may be absent with the Status that explains why. A
// property that is simply not there is an absent value with an ok Status, so
// callers can tell "missing" from "broken".
#pragma once

#include <iosfwd>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>

namespace norvo::xmp {

namespace xmp_error {
inline constexpr int kNone = 0;
inline constexpr int kBadParam = -4;
inline constexpr int kBadSchema = -101;  // namespace URI not registered
inline constexpr int kBadXPath = -102;   // malformed property path
inline constexpr int kBadOptions = -103;
inline constexpr int kBadIndex = -104;
inline constexpr int kBadParse = -106;
inline constexpr int kBadSerialize = -107;  // e.g. the tree does not fit the requested length
inline constexpr int kBadXml = -201;
inline constexpr int kBadRdf = -202;
inline constexpr int kBadXmp = -203;
// The wrapper's own numbers, below every Exempi number.
inline constexpr int kFailed = -1000;          // Exempi refused without naming a reason
inline constexpr int kNotInitialised = -1001;  // the toolkit could not be started
inline constexpr int kEmptyPacket = -1002;     // nothing to parse
}  // namespace xmp_error

class Status {
 public:
  Status() = default;
  explicit Status(int code, std::string message = {}) : code_(code), message_(std::move(message)) {}
  // The error Exempi recorded for the calling thread's last call; `fallback`
  // when it recorded none although the call failed.
  static Status FromLastCall(int fallback = xmp_error::kFailed, std::string message = {});

  bool ok() const { return code_ == xmp_error::kNone; }
  int code() const { return code_; }
  // A short English name of the code, for logs and test messages.
  std::string_view name() const;
  // What the toolkit said about the failure; empty when it said nothing.
  const std::string& message() const { return message_; }
  // The message when there is one, else the name: the text to show a user.
  std::string text() const { return message_.empty() ? std::string(name()) : message_; }

  // Two statuses are the same error when their codes are; the wording may differ.
  friend bool operator==(const Status& a, const Status& b) { return a.code_ == b.code_; }

 private:
  int code_ = xmp_error::kNone;
  std::string message_;
};

// Exempi does not only record an error number when a call fails: it also
// writes the reason as a line to std::cerr itself. While a ToolkitCall lives,
// std::cerr writes into a buffer of its own instead, so the reason becomes
// part of the Status and nothing reaches the terminal. The library writes
// through the std::cerr object (not through C's stderr or file descriptor 2),
// so swapping that stream's buffer is the narrowest capture that works: the
// descriptor, C stdio and other streams stay untouched. The swap is
// process-wide, so calls are serialised by one lock; it is recursive because
// wrapper functions call each other. A line another thread writes to
// std::cerr during a call ends up in that call's buffer.
class ToolkitCall {
 public:
  ToolkitCall();
  ~ToolkitCall();
  ToolkitCall(const ToolkitCall&) = delete;
  ToolkitCall& operator=(const ToolkitCall&) = delete;

  // What the toolkit wrote so far, its lines joined by "; ".
  std::string messages() const;
  // The failure of the call just made: Exempi's error number (`fallback`
  // when it recorded none) with what the toolkit wrote.
  Status failure(int fallback = xmp_error::kFailed) const;

 private:
  std::unique_lock<std::recursive_mutex> lock_;
  std::stringbuf buffer_;
  std::streambuf* saved_ = nullptr;
};

template <class T>
struct Result {
  std::optional<T> value;
  Status status;

  Result() = default;
  Result(T v) : value(std::move(v)) {}  // NOLINT: a value converts to a successful result
  Result(Status s) : status(s) {}       // NOLINT: an error converts to a failed result

  bool ok() const { return status.ok(); }
  bool has_value() const { return value.has_value(); }
};

}  // namespace norvo::xmp
