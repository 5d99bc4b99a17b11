// SPDX-License-Identifier: GPL-3.0-or-later
// The program-wide settings: registry-style keys holding named, typed values,
// kept in SQLite databases.
//
// Two stores, one schema:
// - the user's, $XDG_CONFIG_HOME/Norvo/Media2/settings.db (XDG_CONFIG_HOME
//   defaults to ~/.config), created with its folders on first use; every
//   write goes here;
// - the machine-wide one, read-only: the first $XDG_CONFIG_DIRS entry
//   (default /etc/xdg) + /Norvo/Media2/settings.db, else settings.db beside
//   the program. A read falls back to it when the user's store has no value
//   of that key and name.
//
// Database format (SQLite, application_id 'NRWs', user_version 1):
//
//   CREATE TABLE settings(
//     key_path   TEXT NOT NULL COLLATE NOCASE,  -- below the application key
//     value_name TEXT NOT NULL COLLATE NOCASE,
//     value_type INTEGER NOT NULL,              -- 1 binary, 2 string, 3 number
//     data       NOT NULL,                      -- BLOB, UTF-8 TEXT or INTEGER
//     PRIMARY KEY (key_path, value_name)) WITHOUT ROWID;
//
// key_path is relative to the application key and uses backslashes between
// its parts: "Preferences", "Preferences\LABL", "RecentFiles"; "" is the
// application key itself. Key paths and value names compare without regard to
// ASCII case, as registry names do. Numbers are signed 64-bit.
//
// Concurrency: the database keeps SQLite's rollback journal (it also works on
// network home folders, where WAL does not); every write is its own
// BEGIN IMMEDIATE transaction and a connection waits up to kBusyTimeoutMs for
// another process's lock, so processes writing at once lose nothing.
//
// A user database that cannot be used (not SQLite, corrupt, another schema)
// is renamed to "settings.db.broken-YYYYMMDD-HHMMSS" and a fresh one is made;
// when even that fails, the settings live in memory for this run. Either way
// opening succeeds and warnings() says what happened, for the caller to show.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error_codes.h"

struct sqlite3;

namespace norvo::app {

using Bytes = std::vector<std::uint8_t>;

inline constexpr int kBusyTimeoutMs = 10000;
inline constexpr std::int64_t kSettingsSchemaVersion = 1;
inline constexpr std::int64_t kSettingsApplicationId = 0x4E525773;  // 'NRWs'

enum class ValueType : std::uint8_t { kBinary = 1, kString = 2, kNumber = 3 };

// Where the stores are looked for.
struct StorePaths {
  std::string user;                  // created when missing
  std::vector<std::string> machine;  // the first one that exists is used
};
// The locations from the XDG variables, as described above.
StorePaths DefaultStorePaths();

class SettingsStore {
 public:
  enum class Scope : std::uint8_t { kUserThenMachine, kUser, kMachine };

  // Opens both stores; never fails (see warnings()).
  static SettingsStore Open();
  static SettingsStore Open(const StorePaths& paths);

  SettingsStore(SettingsStore&&) noexcept;
  SettingsStore& operator=(SettingsStore&&) noexcept;
  ~SettingsStore();

  // Reads a value; nullopt when it is absent or of another type. With
  // kUserThenMachine the machine store answers only for a value the user's
  // store does not hold at all.
  std::optional<Bytes> getBinary(std::string_view key, std::string_view name,
                                 Scope scope = Scope::kUserThenMachine) const;
  std::optional<std::string> getString(std::string_view key, std::string_view name,
                                       Scope scope = Scope::kUserThenMachine) const;
  std::optional<std::int64_t> getNumber(std::string_view key, std::string_view name,
                                        Scope scope = Scope::kUserThenMachine) const;

  // Writes to the user's store, replacing a value of any type.
  ErrorCode putBinary(std::string_view key, std::string_view name, std::span<const std::uint8_t> value);
  ErrorCode putString(std::string_view key, std::string_view name, std::string_view value);
  ErrorCode putNumber(std::string_view key, std::string_view name, std::int64_t value);
  // Removes a value from the user's store; err::kFileNotFound when it held none.
  ErrorCode deleteValue(std::string_view key, std::string_view name);

  // What went wrong while opening, one message per problem, for the user.
  const std::vector<std::string>& warnings() const { return warnings_; }
  // The user's database file; empty when the settings are kept in memory.
  const std::string& userPath() const { return user_path_; }
  // The machine-wide database in use; empty when there is none.
  const std::string& machinePath() const { return machine_path_; }

 private:
  struct Closer {
    void operator()(sqlite3* db) const;
  };
  using Connection = std::unique_ptr<sqlite3, Closer>;

  struct Found;  // a row read from one of the stores

  SettingsStore() = default;
  void openUser(const std::string& path);
  void openMachine(const std::vector<std::string>& candidates);
  // Looks the value up as `scope` says; false when absent or of another type.
  bool find(std::string_view key, std::string_view name, Scope scope, ValueType type, Found* out) const;

  Connection user_;
  Connection machine_;
  std::string user_path_;
  std::string machine_path_;
  std::vector<std::string> warnings_;
};

// The coded store: a binary block under a four-character code and an index,
// kept as the value named by the index in decimal under the key
// "Preferences\<code>".
std::string CodedKey(std::uint32_t code);
std::optional<Bytes> GetSetting(const SettingsStore& store, std::uint32_t code, std::int32_t index);
// The same, with `fallback` copied out when the value is absent.
Bytes GetSetting(const SettingsStore& store, std::uint32_t code, std::int32_t index,
                 std::span<const std::uint8_t> fallback);
// Writes the block; with nullopt, deletes the value (absent already is fine).
ErrorCode PutSetting(SettingsStore& store, std::uint32_t code, std::int32_t index,
                     std::optional<std::span<const std::uint8_t>> block);

}  // namespace norvo::app
