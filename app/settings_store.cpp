// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/settings_store.h"

#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <set>
#include <utility>

#include "platform/byte_io.h"
#include "platform/text_encoding.h"

namespace norvo::app {
namespace {

namespace fs = std::filesystem;

constexpr char kStoreFolder[] = "Norvo/Media2";
constexpr char kStoreFileName[] = "settings.db";
constexpr char kDefaultConfigDirs[] = "/etc/xdg";
constexpr char kBrokenSuffix[] = ".broken-";
constexpr char kCodedKeyPrefix[] = "Preferences\\";
// Files SQLite keeps beside a database; they belong to it when it moves.
constexpr std::array<const char*, 3> kCompanionSuffixes = {"-journal", "-wal", "-shm"};
// Opening retries when another process replaced a broken file meanwhile.
constexpr int kOpenAttempts = 3;
// Numbered names tried when two broken files are moved aside in one second.
constexpr int kMaxBrokenNames = 100;

constexpr char kCreateSchema[] =
    "CREATE TABLE settings("
    " key_path TEXT NOT NULL COLLATE NOCASE,"
    " value_name TEXT NOT NULL COLLATE NOCASE,"
    " value_type INTEGER NOT NULL,"
    " data NOT NULL,"
    " PRIMARY KEY (key_path, value_name)) WITHOUT ROWID";
constexpr char kSelectValue[] = "SELECT value_type, data FROM settings WHERE key_path = ?1 AND value_name = ?2";
constexpr char kUpsertValue[] =
    "INSERT INTO settings(key_path, value_name, value_type, data) VALUES(?1, ?2, ?3, ?4)"
    " ON CONFLICT(key_path, value_name) DO UPDATE SET value_type = excluded.value_type, data = excluded.data";
constexpr char kDeleteValue[] = "DELETE FROM settings WHERE key_path = ?1 AND value_name = ?2";

struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

Statement Prepare(sqlite3* db, std::string_view sql, int* rc) {
  sqlite3_stmt* raw = nullptr;
  *rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &raw, nullptr);
  return Statement(raw);
}

int Exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }

// Text parameters: an empty view may have no data pointer, which SQLite
// would bind as NULL.
int BindText(sqlite3_stmt* statement, int index, std::string_view text) {
  return sqlite3_bind_text(statement, index, text.empty() ? "" : text.data(), static_cast<int>(text.size()),
                           SQLITE_TRANSIENT);
}

ErrorCode ErrorFromSqlite(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_DONE:
    case SQLITE_ROW:
      return err::kNone;
    case SQLITE_FULL:
      return err::kDiskFull;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return err::kPermission;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return err::kOpenForWriting;
    case SQLITE_NOMEM:
      return err::kOutOfMemory;
    case SQLITE_TOOBIG:
      return err::kParam;
    default:
      return err::kIo;
  }
}

bool MeansBroken(int rc) {
  const int primary = rc & 0xFF;
  return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT;
}

// Key paths are kept without backslashes at either end, so "\Recover\" and
// "Recover" name the same key.
std::string_view TrimKey(std::string_view key) {
  while (!key.empty() && key.front() == '\\') key.remove_prefix(1);
  while (!key.empty() && key.back() == '\\') key.remove_suffix(1);
  return key;
}

// What a database holds, as far as this program is concerned.
enum class Health : std::uint8_t {
  kGood,         // our schema
  kEmpty,        // a new file: no schema yet
  kBroken,       // unreadable, corrupt or someone else's: to be moved aside
  kUnavailable,  // cannot be read now (locked, I/O error): left alone
};

Health HealthFromError(int rc) { return MeansBroken(rc) ? Health::kBroken : Health::kUnavailable; }

// Runs a one-number query; the result is in *value.
int QueryNumber(sqlite3* db, const char* sql, std::int64_t* value) {
  int rc = SQLITE_OK;
  Statement statement = Prepare(db, sql, &rc);
  if (rc != SQLITE_OK) return rc;
  rc = sqlite3_step(statement.get());
  if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? SQLITE_CORRUPT : rc;
  *value = sqlite3_column_int64(statement.get(), 0);
  return SQLITE_OK;
}

// Whether the settings table has our columns with our primary key.
int HasSettingsTable(sqlite3* db, bool* ok) {
  int rc = SQLITE_OK;
  Statement statement = Prepare(db, "SELECT name, pk FROM pragma_table_info('settings')", &rc);
  if (rc != SQLITE_OK) return rc;
  const std::set<std::pair<std::string, int>> wanted = {
      {"key_path", 1}, {"value_name", 2}, {"value_type", 0}, {"data", 0}};
  std::set<std::pair<std::string, int>> found;
  while ((rc = sqlite3_step(statement.get())) == SQLITE_ROW) {
    const unsigned char* name = sqlite3_column_text(statement.get(), 0);
    found.emplace(name ? reinterpret_cast<const char*>(name) : "", sqlite3_column_int(statement.get(), 1));
  }
  if (rc != SQLITE_DONE) return rc;
  *ok = found == wanted;
  return SQLITE_OK;
}

Health Examine(sqlite3* db) {
  // The integrity check reads every page, so a damaged file is found now
  // rather than by some later read.
  int rc = SQLITE_OK;
  {
    Statement check = Prepare(db, "PRAGMA quick_check", &rc);
    if (rc != SQLITE_OK) return HealthFromError(rc);
    rc = sqlite3_step(check.get());
    if (rc != SQLITE_ROW) return HealthFromError(rc);
    const unsigned char* verdict = sqlite3_column_text(check.get(), 0);
    if (verdict == nullptr || std::string_view(reinterpret_cast<const char*>(verdict)) != "ok") {
      return Health::kBroken;
    }
  }
  std::int64_t application_id = 0;
  std::int64_t objects = 0;
  if ((rc = QueryNumber(db, "PRAGMA application_id", &application_id)) != SQLITE_OK) return HealthFromError(rc);
  if ((rc = QueryNumber(db, "SELECT count(*) FROM sqlite_master", &objects)) != SQLITE_OK) {
    return HealthFromError(rc);
  }
  if (objects == 0 && application_id == 0) return Health::kEmpty;
  if (application_id != kSettingsApplicationId) return Health::kBroken;
  bool ok = false;
  if ((rc = HasSettingsTable(db, &ok)) != SQLITE_OK) return HealthFromError(rc);
  return ok ? Health::kGood : Health::kBroken;
}

// Ends a transaction with ROLLBACK unless it was committed.
class Transaction {
 public:
  explicit Transaction(sqlite3* db) : db_(db) { rc_ = Exec(db_, "BEGIN IMMEDIATE"); }
  ~Transaction() {
    if (rc_ == SQLITE_OK && !done_) Exec(db_, "ROLLBACK");
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  int begun() const { return rc_; }
  int commit() {
    int rc = Exec(db_, "COMMIT");
    if (rc == SQLITE_OK) done_ = true;
    return rc;
  }

 private:
  sqlite3* db_;
  int rc_ = SQLITE_OK;
  bool done_ = false;
};

// Creates the schema in an empty database. Two processes may both find the
// file empty; the second one to get the write lock finds the schema made.
Health CreateSchema(sqlite3* db) {
  Transaction transaction(db);
  if (transaction.begun() != SQLITE_OK) return HealthFromError(transaction.begun());
  Health health = Examine(db);
  if (health != Health::kEmpty) return health;
  const std::string pragmas = "PRAGMA application_id = " + std::to_string(kSettingsApplicationId) +
                              "; PRAGMA user_version = " + std::to_string(kSettingsSchemaVersion);
  int rc = Exec(db, kCreateSchema);
  if (rc == SQLITE_OK) rc = Exec(db, pragmas.c_str());
  if (rc == SQLITE_OK) rc = transaction.commit();
  return rc == SQLITE_OK ? Health::kGood : HealthFromError(rc);
}

// Identifies a file, to tell whether a path still names the file examined.
std::optional<std::pair<dev_t, ino_t>> FileIdentity(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return std::make_pair(st.st_dev, st.st_ino);
}

std::string Timestamp() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::array<char, 32> text{};
  std::size_t n = std::strftime(text.data(), text.size(), "%Y%m%d-%H%M%S", &local);
  return std::string(text.data(), n);
}

// Renames the database and its journal files out of the way; the new name, or
// nullopt with errno-style text in *why.
std::optional<std::string> MoveAside(const std::string& path, std::string* why) {
  const std::string base = path + kBrokenSuffix + Timestamp();
  std::string target = base;
  std::error_code ec;
  for (int n = 2; fs::exists(target, ec) && n <= kMaxBrokenNames; ++n) target = base + "-" + std::to_string(n);
  fs::rename(path, target, ec);
  if (ec) {
    *why = ec.message();
    return std::nullopt;
  }
  for (const char* suffix : kCompanionSuffixes) {
    std::error_code companion_ec;
    if (fs::exists(path + suffix, companion_ec)) fs::rename(path + suffix, target + suffix, companion_ec);
  }
  return target;
}

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return home;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* result = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result != nullptr &&
      result->pw_dir != nullptr) {
    return result->pw_dir;
  }
  return "/";
}

// The XDG variables count only when they hold an absolute path.
std::optional<std::string> AbsoluteFromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || value[0] != '/') return std::nullopt;
  return std::string(value);
}

std::string FirstConfigDir() {
  const char* dirs = std::getenv("XDG_CONFIG_DIRS");
  if (dirs != nullptr) {
    std::string_view rest(dirs);
    while (!rest.empty()) {
      std::size_t colon = rest.find(':');
      std::string_view entry = rest.substr(0, colon);
      if (!entry.empty() && entry.front() == '/') return std::string(entry);
      if (colon == std::string_view::npos) break;
      rest.remove_prefix(colon + 1);
    }
  }
  return kDefaultConfigDirs;
}

std::string StoreIn(const std::string& folder) {
  return (fs::path(folder) / kStoreFolder / kStoreFileName).string();
}

}  // namespace

struct SettingsStore::Found {
  ValueType type = ValueType::kBinary;
  Bytes binary;
  std::string text;
  std::int64_t number = 0;
};

void SettingsStore::Closer::operator()(sqlite3* db) const { sqlite3_close(db); }

StorePaths DefaultStorePaths() {
  StorePaths paths;
  std::optional<std::string> config_home = AbsoluteFromEnvironment("XDG_CONFIG_HOME");
  paths.user = StoreIn(config_home ? *config_home : HomeFolder() + "/.config");
  paths.machine.push_back(StoreIn(FirstConfigDir()));
  std::error_code ec;
  fs::path program = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) paths.machine.push_back((program.parent_path() / kStoreFileName).string());
  return paths;
}

SettingsStore SettingsStore::Open() { return Open(DefaultStorePaths()); }

SettingsStore SettingsStore::Open(const StorePaths& paths) {
  SettingsStore store;
  store.openUser(paths.user);
  store.openMachine(paths.machine);
  return store;
}

SettingsStore::SettingsStore(SettingsStore&&) noexcept = default;
SettingsStore& SettingsStore::operator=(SettingsStore&&) noexcept = default;
SettingsStore::~SettingsStore() = default;

void SettingsStore::openUser(const std::string& path) {
  const std::string kept_in_memory = "; settings are not kept after this session.";
  std::string problem;
  for (int attempt = 0; attempt < kOpenAttempts && problem.empty() && !path.empty(); ++attempt) {
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    if (ec) {
      problem = "The settings folder \"" + fs::path(path).parent_path().string() + "\" cannot be created (" +
                ec.message() + ")" + kept_in_memory;
      break;
    }
    const std::optional<std::pair<dev_t, ino_t>> examined = FileIdentity(path);
    sqlite3* raw = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    Connection db(raw);
    Health health = Health::kUnavailable;
    if (rc == SQLITE_OK) {
      sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
      health = Examine(db.get());
      if (health == Health::kEmpty) health = CreateSchema(db.get());
    }
    if (health == Health::kGood) {
      user_ = std::move(db);
      user_path_ = path;
      return;
    }
    if (health == Health::kUnavailable) {
      std::string reason = db ? sqlite3_errmsg(db.get()) : sqlite3_errstr(rc);
      problem = "The settings file \"" + path + "\" cannot be opened (" + reason + ")" + kept_in_memory;
      break;
    }
    db.reset();
    // Another process may have moved the broken file aside and made a new
    // one since it was examined; then that new one is examined instead.
    if (FileIdentity(path) != examined) continue;
    std::string why;
    std::optional<std::string> moved = MoveAside(path, &why);
    if (!moved) {
      problem = "The settings file \"" + path + "\" cannot be read and cannot be renamed (" + why + ")" +
                kept_in_memory;
      break;
    }
    warnings_.push_back("The settings file \"" + path + "\" could not be read and was renamed to \"" + *moved +
                        "\"; the default settings are used.");
  }
  if (problem.empty() && !path.empty()) problem = "The settings file \"" + path + "\" cannot be opened" + kept_in_memory;
  if (!problem.empty()) warnings_.push_back(problem);

  // The fallback: a private database in memory, so that every caller works
  // the same way whatever happened on disk.
  sqlite3* raw = nullptr;
  sqlite3_open_v2(":memory:", &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  user_.reset(raw);
  if (user_) CreateSchema(user_.get());
  user_path_.clear();
}

void SettingsStore::openMachine(const std::vector<std::string>& candidates) {
  for (const std::string& path : candidates) {
    std::error_code ec;
    if (path.empty() || !fs::is_regular_file(path, ec)) continue;
    sqlite3* raw = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
    Connection db(raw);
    Health health = Health::kUnavailable;
    if (rc == SQLITE_OK) {
      sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
      health = Examine(db.get());
    }
    if (health == Health::kGood) {
      machine_ = std::move(db);
      machine_path_ = path;
    } else if (health != Health::kEmpty) {
      warnings_.push_back("The machine-wide settings file \"" + path + "\" cannot be read; it is not used.");
    }
    return;
  }
}

bool SettingsStore::find(std::string_view key, std::string_view name, Scope scope, ValueType type,
                         Found* out) const {
  key = TrimKey(key);
  // 1: a row was found (of any type); 0: none; -1: the lookup failed.
  auto lookup = [&](sqlite3* db) {
    int rc = SQLITE_OK;
    Statement statement = Prepare(db, kSelectValue, &rc);
    if (rc != SQLITE_OK) return -1;
    BindText(statement.get(), 1, key);
    BindText(statement.get(), 2, name);
    rc = sqlite3_step(statement.get());
    if (rc == SQLITE_DONE) return 0;
    if (rc != SQLITE_ROW) return -1;
    sqlite3_stmt* row = statement.get();
    out->type = static_cast<ValueType>(sqlite3_column_int(row, 0));
    switch (out->type) {
      case ValueType::kBinary: {
        const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(row, 1));
        const auto size = static_cast<std::size_t>(sqlite3_column_bytes(row, 1));
        out->binary = data ? Bytes(data, data + size) : Bytes();
        break;
      }
      case ValueType::kString: {
        const unsigned char* text = sqlite3_column_text(row, 1);
        out->text = text ? std::string(reinterpret_cast<const char*>(text),
                                       static_cast<std::size_t>(sqlite3_column_bytes(row, 1)))
                         : std::string();
        break;
      }
      case ValueType::kNumber:
        out->number = sqlite3_column_int64(row, 1);
        break;
    }
    return 1;
  };
  int found = 0;
  if (scope != Scope::kMachine && user_) found = lookup(user_.get());
  if (found == 0 && scope != Scope::kUser && machine_) found = lookup(machine_.get());
  return found == 1 && out->type == type;
}

std::optional<Bytes> SettingsStore::getBinary(std::string_view key, std::string_view name, Scope scope) const {
  Found found;
  if (!find(key, name, scope, ValueType::kBinary, &found)) return std::nullopt;
  return std::move(found.binary);
}

std::optional<std::string> SettingsStore::getString(std::string_view key, std::string_view name,
                                                    Scope scope) const {
  Found found;
  if (!find(key, name, scope, ValueType::kString, &found)) return std::nullopt;
  return std::move(found.text);
}

std::optional<std::int64_t> SettingsStore::getNumber(std::string_view key, std::string_view name,
                                                     Scope scope) const {
  Found found;
  if (!find(key, name, scope, ValueType::kNumber, &found)) return std::nullopt;
  return found.number;
}

namespace {

// One value to write, of the type that says which member counts.
struct NewValue {
  ValueType type = ValueType::kBinary;
  std::span<const std::uint8_t> binary;
  std::string_view text;
  std::int64_t number = 0;
};

ErrorCode Upsert(sqlite3* db, std::string_view key, std::string_view name, const NewValue& value) {
  if (db == nullptr) return err::kIo;
  if (value.binary.size() > static_cast<std::size_t>(INT32_MAX) ||
      value.text.size() > static_cast<std::size_t>(INT32_MAX)) {
    return err::kParam;
  }
  Transaction transaction(db);
  if (transaction.begun() != SQLITE_OK) return ErrorFromSqlite(transaction.begun());
  int rc = SQLITE_OK;
  Statement statement = Prepare(db, kUpsertValue, &rc);
  if (rc != SQLITE_OK) return ErrorFromSqlite(rc);
  sqlite3_stmt* s = statement.get();
  BindText(s, 1, TrimKey(key));
  BindText(s, 2, name);
  sqlite3_bind_int(s, 3, static_cast<int>(value.type));
  switch (value.type) {
    case ValueType::kBinary:
      // A zero-length value is an empty blob, not NULL.
      rc = value.binary.empty() ? sqlite3_bind_zeroblob(s, 4, 0)
                                : sqlite3_bind_blob(s, 4, value.binary.data(), static_cast<int>(value.binary.size()),
                                                    SQLITE_TRANSIENT);
      break;
    case ValueType::kString:
      rc = BindText(s, 4, value.text);
      break;
    case ValueType::kNumber:
      rc = sqlite3_bind_int64(s, 4, value.number);
      break;
  }
  if (rc != SQLITE_OK) return ErrorFromSqlite(rc);
  rc = sqlite3_step(s);
  if (rc != SQLITE_DONE) return ErrorFromSqlite(rc);
  statement.reset();
  return ErrorFromSqlite(transaction.commit());
}

}  // namespace

ErrorCode SettingsStore::putBinary(std::string_view key, std::string_view name, std::span<const std::uint8_t> value) {
  NewValue v;
  v.type = ValueType::kBinary;
  v.binary = value;
  return Upsert(user_.get(), key, name, v);
}

ErrorCode SettingsStore::putString(std::string_view key, std::string_view name, std::string_view value) {
  NewValue v;
  v.type = ValueType::kString;
  v.text = value;
  return Upsert(user_.get(), key, name, v);
}

ErrorCode SettingsStore::putNumber(std::string_view key, std::string_view name, std::int64_t value) {
  NewValue v;
  v.type = ValueType::kNumber;
  v.number = value;
  return Upsert(user_.get(), key, name, v);
}

ErrorCode SettingsStore::deleteValue(std::string_view key, std::string_view name) {
  sqlite3* db = user_.get();
  if (db == nullptr) return err::kIo;
  Transaction transaction(db);
  if (transaction.begun() != SQLITE_OK) return ErrorFromSqlite(transaction.begun());
  int rc = SQLITE_OK;
  Statement statement = Prepare(db, kDeleteValue, &rc);
  if (rc != SQLITE_OK) return ErrorFromSqlite(rc);
  BindText(statement.get(), 1, TrimKey(key));
  BindText(statement.get(), 2, name);
  rc = sqlite3_step(statement.get());
  if (rc != SQLITE_DONE) return ErrorFromSqlite(rc);
  const bool removed = sqlite3_changes(db) > 0;
  statement.reset();
  rc = transaction.commit();
  if (rc != SQLITE_OK) return ErrorFromSqlite(rc);
  return removed ? err::kNone : err::kFileNotFound;
}

std::string CodedKey(std::uint32_t code) { return kCodedKeyPrefix + Windows1252ToUtf8(FourCCToString(code)); }

std::optional<Bytes> GetSetting(const SettingsStore& store, std::uint32_t code, std::int32_t index) {
  return store.getBinary(CodedKey(code), std::to_string(index));
}

Bytes GetSetting(const SettingsStore& store, std::uint32_t code, std::int32_t index,
                 std::span<const std::uint8_t> fallback) {
  std::optional<Bytes> value = GetSetting(store, code, index);
  if (value) return std::move(*value);
  return Bytes(fallback.begin(), fallback.end());
}

ErrorCode PutSetting(SettingsStore& store, std::uint32_t code, std::int32_t index,
                     std::optional<std::span<const std::uint8_t>> block) {
  if (block) return store.putBinary(CodedKey(code), std::to_string(index), *block);
  ErrorCode e = store.deleteValue(CodedKey(code), std::to_string(index));
  return e == err::kFileNotFound ? err::kNone : e;
}

}  // namespace norvo::app
