// SPDX-License-Identifier: GPL-3.0-or-later
// Discs from a staging folder, through xorriso: an ISO 9660 image file with
// Rock Ridge names (the true names and permissions, for Unix systems) and a
// Joliet tree (for Windows), or the same written onto a blank disc in a
// drive. xorriso runs as a child process; its progress lines ("xx% done")
// are passed on and a cancel ends it.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error_codes.h"

namespace norvo::output {

// The longest volume label the primary ISO 9660 descriptor holds, and what
// the Joliet descriptor shows of it (16 UCS-2 characters).
inline constexpr std::size_t kMaxIsoVolumeLabel = 32;
inline constexpr std::size_t kMaxJolietVolumeLabel = 16;

// A disc label from a name: ASCII letters upper-cased, digits and "_" kept,
// anything else "_" (the characters ISO 9660 allows), cut to the 16 that
// both trees show in full; "NORVO_BACKUP" when nothing is left.
std::string DiscVolumeLabel(std::string_view name);

// A drive that can write discs, as `xorriso -devices` lists it.
struct DiscDrive {
  std::string device;  // "/dev/sr0"
  std::string vendor;  // "HL-DT-ST"
  std::string model;   // "DVDRAM GH24NSD1"
};
// The drives of a `xorriso -devices` listing.
std::vector<DiscDrive> ParseDeviceList(std::string_view text);
// The drives on this machine that this user may write to; none when
// xorriso is not installed or finds none.
std::vector<DiscDrive> ListDiscDrives();
// Whether xorriso can be run.
bool HaveXorriso();

// Percent done (0-100), or -1 when a while passed without news; a non-zero
// answer ends xorriso (err::kUserCancelled).
using DiscProgress = std::function<int(int percent)>;

// Writes the staging folder as an ISO image at `image` (which must not
// exist: err::kDuplicateName). The image is made under a temporary name
// beside it and appears only when complete. err::kNotAFile when xorriso is
// missing, err::kIo when it fails (its last message in *message).
ErrorCode WriteDiscImage(const std::string& staging, const std::string& image, std::string_view volume_label,
                         const DiscProgress& progress, std::string* message = nullptr);

// Writes the staging folder onto the blank (or blankable) disc in `drive`
// and ejects it.
ErrorCode BurnDisc(const std::string& staging, const std::string& drive, std::string_view volume_label,
                   const DiscProgress& progress, std::string* message = nullptr);

}  // namespace norvo::output
