// SPDX-License-Identifier: GPL-3.0-or-later
// The program's command line and the channel that carries a later launch's
// command line to the running instance.
//
// Syntax: arguments are separated by blanks (space or tab); a pair of double
// quotes groups blanks into one argument and is removed. There is no escape
// character, so an argument can never contain a double quote. The first
// argument is the program. When the first argument after it ends with ".nrk"
// (any letter case) and names an existing file, that catalog is opened and
// the rest is ignored; otherwise every argument after the program is a media
// file or folder to add.
//
// CmdLineMap is the hand-over channel: a named POSIX shared-memory block of
// 65536 bytes holding one NUL-terminated UTF-16 string (native byte order),
// guarded between processes by a named semaphore. The block and the
// semaphore are named after the channel plus the user id, so two users on
// one machine never share them. Like any named POSIX object they outlive the
// processes that use them; they are never unlinked by the program, because a
// process that unlinked them could leave a running instance on an object no
// later launch can find.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error_codes.h"

namespace norvo::app {

// The channel the program uses; tests pass names of their own.
inline constexpr std::string_view kCmdLineChannelName = "{B0A8C3CE-7D62-45f8-8B40-1B6A774A3122}";
inline constexpr std::string_view kCmdLineBlockSuffix = "-Data-Mapping-File";
inline constexpr std::string_view kCmdLineGuardSuffix = "-Data-Mapping-Mutex";
inline constexpr std::size_t kCmdLineBlockSize = 65536;
// A text of this many UTF-16 units or more does not fit with its NUL.
inline constexpr std::size_t kMaxCmdLineUnits = kCmdLineBlockSize / sizeof(char16_t);
// How long Put, Get and Clear wait for the guard before taking it as
// abandoned by a process that died while holding it.
inline constexpr int kCmdLineGuardWaitMs = 1000;
// The catalog file extension, compared without regard to case.
inline constexpr std::string_view kCatalogExtension = ".nrk";

// The name of the POSIX object (shm_open / sem_open) for a channel object:
// "/" + name + "-" + user id, with any further '/' turned into '_'.
std::string PosixObjectName(std::string_view name);

class CmdLineMap {
 public:
  CmdLineMap() = default;
  ~CmdLineMap() { destroy(); }
  CmdLineMap(const CmdLineMap&) = delete;
  CmdLineMap& operator=(const CmdLineMap&) = delete;

  // Creates the block (or opens the existing one), maps all of it and, under
  // the guard, sets every byte to 0: any hand-over not yet collected is lost.
  ErrorCode create(std::string_view channel_name = kCmdLineChannelName);
  bool isOpen() const { return block_ != nullptr; }

  // Stores `utf8` as the block's string. Bytes that are not UTF-8 travel as
  // the lone surrogates U+DC80..U+DCFF and come back unchanged from get(), so
  // any Linux file name passes. A text of kMaxCmdLineUnits UTF-16 units or
  // more, or one holding a NUL, is refused with err::kParam and the block keeps its
  // content; without a block the result is err::kBadFileNumber.
  ErrorCode put(std::string_view utf8);
  // The block's string as UTF-8; empty without a block.
  std::string get() const;
  // put("").
  ErrorCode clear() { return put({}); }
  // Unmaps and closes the block and the guard (the named objects stay).
  void destroy();

  // Removes the named block and guard of a channel; for tests and clean-up.
  static void removeNamedObjects(std::string_view channel_name);

 private:
  class Guard;

  void* block_ = nullptr;
  void* guard_ = nullptr;  // sem_t*
};

// Splits a command line into its arguments.
std::vector<std::string> SplitCommandLine(std::string_view line);

// The command line that SplitCommandLine turns back into `args`: arguments
// holding a blank, or empty, are quoted. nullopt when an argument holds a
// double quote, which the syntax cannot carry.
std::optional<std::string> JoinCommandLine(const std::vector<std::string>& args);

// What a command line asks for.
struct CommandLineRequest {
  enum class Kind { kNothing, kOpenCatalog, kAddFiles };
  Kind kind = Kind::kNothing;
  // kOpenCatalog: the one catalog path; kAddFiles: every file or folder, in
  // order (empty arguments name nothing and are left out).
  std::vector<std::string> paths;
};

// Classifies split arguments (args[0] is the program). A catalog is opened
// only when the file exists; a missing one is added like any other name.
CommandLineRequest ClassifyCommandLine(const std::vector<std::string>& args);

}  // namespace norvo::app
