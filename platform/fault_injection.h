// SPDX-License-Identifier: GPL-3.0-or-later
// Test hooks of the file services: fail the n-th write from now, or die just
// before it, report less
// free space, or report files as larger than they are. They let tests prove
// how a save behaves when a disk fills up or a write fails at any point, and
// at sizes (2 GB) that are not worth writing. Off unless a test turns them on.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/error_codes.h"

namespace norvo::faults {

// The n-th write-like operation from now (write, copy, growing or truncating
// an end of file) fails with `code`; n counts from 1, 0 turns the hook off.
void FailNthWrite(std::uint64_t n, ErrorCode code);
// The process kills itself (SIGKILL) just before the n-th write-like
// operation from now, as a crash or power cut would stop it; for tests that
// run the work in a child process.
void KillAtNthWrite(std::uint64_t n);
// Write-like operations since the last Reset().
std::uint64_t WriteCount();
void SetFreeBytes(std::optional<std::uint64_t> bytes);
// Added to every length the file services report.
void SetLengthBias(std::int64_t bias);
void Reset();

// Used by the file services.
ErrorCode BeforeWrite();
std::optional<std::uint64_t> FreeBytesOverride();
std::int64_t LengthBias();

}  // namespace norvo::faults
