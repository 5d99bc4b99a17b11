// SPDX-License-Identifier: GPL-3.0-or-later
// One running instance per user. The first launch takes an fcntl lock on a
// file in the runtime folder and listens on a Unix-domain socket beside it;
// a later launch finds the lock taken, puts its command line into the
// hand-over channel (CmdLineMap), notifies the running instance through the
// socket and ends. The running instance then reads and clears the channel
// and acts on the text.
//
// The runtime folder is $XDG_RUNTIME_DIR, else "norvo-UID" in /tmp, made
// with mode 0700. The lock file is never deleted: a file on which nobody
// holds the lock is simply free, whoever left it behind.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/command_line.h"
#include "platform/error_codes.h"

namespace norvo::app {

inline constexpr std::string_view kInstanceLockName = "NORVO_UNIQUEID_{A3A1B36A-195B-496d-AF6C-87F9DBF51055}";
inline constexpr std::string_view kNewWindowMessageName = "WM_NORVO_NEW_WINDOW_{D47A6385-A362-4ce6-9859-41D7FEE5B927}";
// How long a later launch waits for the running instance to take its
// command line.
inline constexpr int kHandOverTimeoutMs = 200;
inline constexpr std::string_view kRuntimeFallbackBase = "/tmp";

// The folder for the lock and the socket: $XDG_RUNTIME_DIR when set, else
// `fallback_base`/norvo-UID, created with mode 0700. An existing fallback
// folder must be a real folder owned by this user; its mode is tightened
// to 0700.
ErrorCode RuntimeFolder(std::string* out, std::string_view fallback_base = kRuntimeFallbackBase);

// The single-instance lock: an open-file-description write lock on the
// whole file `name` in the runtime folder, held while this object lives.
class SingleInstanceLock {
 public:
  SingleInstanceLock() = default;
  ~SingleInstanceLock() { release(); }
  SingleInstanceLock(const SingleInstanceLock&) = delete;
  SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

  // 0: this process now holds the lock. err::kOpenForWriting: another instance holds it.
  // err::kPermission: the file may not be opened. Other codes: the folder or file failed.
  ErrorCode acquire(std::string_view name = kInstanceLockName);
  bool held() const { return fd_ >= 0; }
  void release();

 private:
  int fd_ = -1;
};

// The running instance's end of the notification socket.
class HandOverListener {
 public:
  using Callback = std::function<void(const std::string& command_line)>;

  HandOverListener() = default;
  ~HandOverListener() { stop(); }
  HandOverListener(const HandOverListener&) = delete;
  HandOverListener& operator=(const HandOverListener&) = delete;

  // Listens on the socket `message_name` in the runtime folder. A socket
  // file left by an earlier instance is replaced: only the holder of the
  // single-instance lock calls this.
  ErrorCode start(std::string_view message_name = kNewWindowMessageName);
  void stop();
  // The descriptor to watch for readability (for an event loop's notifier).
  int descriptor() const { return fd_; }

  // Waits up to `timeout_ms` (0: only what is waiting) for notifications and
  // handles each: Get and Clear on `map`, acknowledge, then the callback
  // with the text, on the calling thread. The text may be empty when a
  // second notification found the channel already read; the callback still
  // runs, as the frame comes to the front either way. Returns how many
  // notifications were handled.
  int poll(int timeout_ms, CmdLineMap& map, const Callback& on_command_line);

 private:
  int fd_ = -1;
  std::string path_;
};

// A later launch's notification: connects to the socket `message_name` in
// the runtime folder and waits up to `timeout_ms` for the running instance
// to take the channel's text. 0 when it did; err::kFileNotFound when nobody listens; err::kIo
// when the time ran out.
ErrorCode NotifyRunningInstance(int timeout_ms = kHandOverTimeoutMs,
                                std::string_view message_name = kNewWindowMessageName);

// The text a later launch hands over: its arguments, each after the program
// made absolute against the launch's own working folder (the running
// instance has another one), joined by JoinCommandLine. nullopt when an
// argument holds a double quote.
std::optional<std::string> HandOverText(const std::vector<std::string>& args);

// The names the start-up uses; tests pass their own.
struct InstanceNames {
  std::string lock{kInstanceLockName};
  std::string message{kNewWindowMessageName};
  std::string channel{kCmdLineChannelName};
};

enum class InstanceRole {
  kFirst,         // this process runs the program
  kHandedOver,    // the running instance took the command line: end
  kNotDelivered,  // another instance holds the lock but did not answer: end
};

// Start-up step 2, and the running instance's side of the hand-over.
class AppInstance {
 public:
  // Creates the channel (zeroing it, as every launch does), then tries the
  // lock. Free: takes it, listens, and *role is kFirst. Held by another
  // instance (or refused): puts HandOverText(args) into the channel and
  // notifies; *role is kHandedOver or kNotDelivered and the caller ends
  // without a window. When the lock cannot be tried at all (no runtime
  // folder), the process runs as the first instance without the guarantee
  // rather than not at all; the code returned says why.
  ErrorCode start(const std::vector<std::string>& args, InstanceRole* role, const InstanceNames& names = {});

  // For the running instance; see HandOverListener.
  int descriptor() const { return listener_.descriptor(); }
  int poll(int timeout_ms, const HandOverListener::Callback& on_command_line) {
    return listener_.poll(timeout_ms, map_, on_command_line);
  }

 private:
  CmdLineMap map_;
  SingleInstanceLock lock_;
  HandOverListener listener_;
};

}  // namespace norvo::app
