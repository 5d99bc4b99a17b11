// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/fault_injection.h"

#include <csignal>
#include <atomic>
#include <mutex>

namespace norvo::faults {
namespace {

std::atomic<bool> g_active{false};
std::mutex g_mutex;
std::uint64_t g_writes = 0;
std::uint64_t g_fail_at = 0;
ErrorCode g_fail_code = err::kNone;
std::uint64_t g_kill_at = 0;
std::optional<std::uint64_t> g_free_bytes;
std::int64_t g_length_bias = 0;

void UpdateActive() {
  g_active = g_fail_at != 0 || g_kill_at != 0 || g_free_bytes.has_value() || g_length_bias != 0 || g_writes != 0;
}

}  // namespace

void FailNthWrite(std::uint64_t n, ErrorCode code) {
  std::lock_guard lock(g_mutex);
  g_fail_at = n == 0 ? 0 : g_writes + n;
  g_fail_code = code;
  g_active = true;
}

void KillAtNthWrite(std::uint64_t n) {
  std::lock_guard lock(g_mutex);
  g_kill_at = n == 0 ? 0 : g_writes + n;
  g_active = true;
}

std::uint64_t WriteCount() {
  std::lock_guard lock(g_mutex);
  return g_writes;
}

void SetFreeBytes(std::optional<std::uint64_t> bytes) {
  std::lock_guard lock(g_mutex);
  g_free_bytes = bytes;
  g_active = true;
}

void SetLengthBias(std::int64_t bias) {
  std::lock_guard lock(g_mutex);
  g_length_bias = bias;
  g_active = true;
}

void Reset() {
  std::lock_guard lock(g_mutex);
  g_writes = 0;
  g_fail_at = 0;
  g_fail_code = err::kNone;
  g_kill_at = 0;
  g_free_bytes.reset();
  g_length_bias = 0;
  UpdateActive();
}

ErrorCode BeforeWrite() {
  std::lock_guard lock(g_mutex);
  ++g_writes;
  if (g_kill_at != 0 && g_writes == g_kill_at) std::raise(SIGKILL);  // a crash before the write
  if (g_fail_at != 0 && g_writes == g_fail_at) return g_fail_code;
  return err::kNone;
}

std::optional<std::uint64_t> FreeBytesOverride() {
  if (!g_active) return std::nullopt;
  std::lock_guard lock(g_mutex);
  return g_free_bytes;
}

std::int64_t LengthBias() {
  if (!g_active) return 0;
  std::lock_guard lock(g_mutex);
  return g_length_bias;
}

}  // namespace norvo::faults
