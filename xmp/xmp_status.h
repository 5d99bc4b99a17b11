// SPDX-License-Identifier: GPL-3.0-or-later
// Errors of the XMP wrapper as values. Status carries Exempi's error number
// (negative, 0 for success); Result<T> pairs a value that may be absent with
// the Status that explains why. A property that is simply not there is an
// absent value with an ok Status, so callers can tell "missing" from "broken".
#pragma once

#include <optional>
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
  constexpr Status() = default;
  constexpr explicit Status(int code) : code_(code) {}
  // The error Exempi recorded for the calling thread's last call; `fallback`
  // when it recorded none although the call failed.
  static Status FromLastCall(int fallback = xmp_error::kFailed);

  constexpr bool ok() const { return code_ == xmp_error::kNone; }
  constexpr int code() const { return code_; }
  // A short English name of the code, for logs and test messages.
  std::string_view name() const;

  friend constexpr bool operator==(Status a, Status b) { return a.code_ == b.code_; }

 private:
  int code_ = xmp_error::kNone;
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
