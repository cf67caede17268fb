// The settings store in one SQLite database per user.
//
// Layout: table `keys` holds every key but the hive itself, by its case-folded full path, with
// its parent's folded path and its own name as first written; table `vals` holds the values by
// folded key path and folded name, with name, type and raw data. Folding is done here, in C++,
// with the same upper-casing the rest of the system compares names with, so SQL only ever
// compares folded text byte for byte.
//
// Every call opens its own connection and closes it before returning: nothing survives between
// calls (the environment may name another store by then, and a connection must not cross a
// fork). Writes run in BEGIN IMMEDIATE transactions, which take the store's write lock before
// reading, so a read-modify-write never loses another process's write; the busy time-out makes
// a writer wait for the lock instead of failing. The journal is a write-ahead log, so readers
// never wait for writers.
//
// The file is recognised by its application id. A file that SQLite cannot read, or a database
// that is not a settings store, reads as an empty store and refuses writes; nothing here ever
// recreates, truncates or repairs it.
#include "platform/settings_store.h"

#include <errno.h>
#include <pwd.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "base/text.h"
#include "platform/last_error.h"

namespace qs::platform {

namespace {

constexpr int kBusyTimeoutMs = 10000;
constexpr int kApplicationId = 0x51535247;  // "QSRG"
constexpr char16_t kSeparator = u'\\';

constexpr const char* kSchema =
    "CREATE TABLE keys(fold TEXT PRIMARY KEY, parent TEXT NOT NULL, name TEXT NOT NULL)"
    " WITHOUT ROWID;"
    "CREATE INDEX keys_by_parent ON keys(parent);"
    "CREATE TABLE vals(id INTEGER PRIMARY KEY, key TEXT NOT NULL, fold TEXT NOT NULL,"
    " name TEXT NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL, UNIQUE(key, fold));";

// --- SQLite handles --------------------------------------------------------------------------

struct DbCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Db = std::unique_ptr<sqlite3, DbCloser>;

struct StmtFinalizer {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};

// The registry's status for a SQLite result code.
Error FromSqlite(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_FORMAT:
    case SQLITE_SCHEMA:
    case SQLITE_ERROR:  // "no such table" and the like: not a store of ours
      return Error::From(ErrorCode::kRegistryCorrupt);
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return Error::From(ErrorCode::kBusy);
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_READONLY:
    case SQLITE_AUTH: return Error::From(ErrorCode::kAccessDenied);
    case SQLITE_FULL: return Error::From(ErrorCode::kDiskFull);
    case SQLITE_NOMEM: return Error::From(ErrorCode::kOutOfMemory);
    case SQLITE_TOOBIG:
    case SQLITE_RANGE: return Error::From(ErrorCode::kInvalidParameter);
    default: return Error::From(ErrorCode::kRegistryIoFailed);
  }
}

// A prepared statement with typed binding; every failure is kept as a registry status.
class Stmt {
 public:
  static ErrorOr<Stmt> Prepare(sqlite3* db, const char* sql) {
    sqlite3_stmt* raw = nullptr;
    const int rc = sqlite3_prepare_v2(db, sql, -1, &raw, nullptr);
    if (rc != SQLITE_OK) {
      sqlite3_finalize(raw);
      return FromSqlite(rc);
    }
    return Stmt(raw);
  }

  Stmt& Bind(int i, const std::string& text) {
    Check(sqlite3_bind_text(s_.get(), i, text.data(), static_cast<int>(text.size()),
                            SQLITE_TRANSIENT));
    return *this;
  }
  Stmt& Bind(int i, int64_t n) {
    Check(sqlite3_bind_int64(s_.get(), i, n));
    return *this;
  }
  Stmt& BindBlob(int i, std::span<const uint8_t> bytes) {
    // A null pointer would bind SQL NULL; zero-length data must stay an empty blob.
    if (bytes.empty()) {
      Check(sqlite3_bind_zeroblob(s_.get(), i, 0));
    } else {
      Check(sqlite3_bind_blob64(s_.get(), i, bytes.data(), bytes.size(), SQLITE_TRANSIENT));
    }
    return *this;
  }

  // True for a row, false when done.
  ErrorOr<bool> Step() {
    if (bind_rc_ != SQLITE_OK) return FromSqlite(bind_rc_);
    const int rc = sqlite3_step(s_.get());
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    return FromSqlite(rc);
  }
  ErrorOr<void> Run() {
    auto r = Step();
    if (!r.ok()) return r.error();
    return {};
  }
  // Makes the statement ready to be bound and run again.
  void Reset() {
    sqlite3_reset(s_.get());
    sqlite3_clear_bindings(s_.get());
    bind_rc_ = SQLITE_OK;
  }

  int64_t Int(int col) const { return sqlite3_column_int64(s_.get(), col); }
  std::string Text(int col) const {
    const auto* p = sqlite3_column_text(s_.get(), col);
    const int n = sqlite3_column_bytes(s_.get(), col);
    return p ? std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(n))
             : std::string();
  }
  std::vector<uint8_t> Blob(int col) const {
    const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(s_.get(), col));
    const int n = sqlite3_column_bytes(s_.get(), col);
    return p ? std::vector<uint8_t>(p, p + n) : std::vector<uint8_t>();
  }
  int64_t Bytes(int col) const { return sqlite3_column_bytes(s_.get(), col); }

 private:
  explicit Stmt(sqlite3_stmt* s) : s_(s) {}
  void Check(int rc) {
    if (bind_rc_ == SQLITE_OK) bind_rc_ = rc;
  }
  std::unique_ptr<sqlite3_stmt, StmtFinalizer> s_;
  int bind_rc_ = SQLITE_OK;
};

ErrorOr<void> Exec(sqlite3* db, const char* sql) {
  const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return FromSqlite(rc);
  return {};
}

// --- Names and paths -------------------------------------------------------------------------

std::string Fold(std::u16string_view text) {
  std::u16string upper(text);
  for (auto& c : upper) c = ToUpper(c);
  return ToUtf8(upper);
}

// A key path checked against the store's rules, with its folded form.
struct KeyPath {
  std::u16string path;
  std::string fold;
  bool IsHive() const { return path.empty(); }
};

ErrorOr<KeyPath> ParseKeyPath(std::u16string_view path) {
  size_t start = 0;
  size_t depth = 0;
  while (!path.empty()) {
    size_t end = path.find(kSeparator, start);
    if (end == std::u16string_view::npos) end = path.size();
    if (end == start || end - start > kMaxKeyNameLength || ++depth > kMaxKeyDepth) {
      return ErrorCode::kInvalidParameter;
    }
    if (end == path.size()) break;
    start = end + 1;
  }
  return KeyPath{std::u16string(path), Fold(path)};
}

ErrorOr<std::string> FoldValueName(std::u16string_view name) {
  if (name.size() > kMaxValueNameLength) return ErrorCode::kInvalidParameter;
  return Fold(name);
}

// --- Opening the store -----------------------------------------------------------------------

std::string HomeDirectory() {
  if (const char* home = getenv("HOME"); home != nullptr && home[0] == '/') return home;
  struct passwd pw {};
  struct passwd* found = nullptr;
  std::vector<char> buf(16384);
  if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found != nullptr &&
      pw.pw_dir != nullptr && pw.pw_dir[0] == '/') {
    return pw.pw_dir;
  }
  return {};
}

std::string ConfigHome() {
  // Relative values are ignored, as the base-directory convention asks.
  if (const char* xdg = getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') return xdg;
  const std::string home = HomeDirectory();
  return home.empty() ? std::string() : home + "/.config";
}

// Creates `dir` and its missing parents, private to the user; existing ones are left as they are.
ErrorOr<void> MakeDirectories(const std::string& dir) {
  for (size_t pos = 1; pos <= dir.size(); ++pos) {
    if (pos != dir.size() && dir[pos] != '/') continue;
    const std::string prefix = dir.substr(0, pos);
    // Whatever the reason, a store whose folder cannot be made cannot be opened for writing.
    if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return ErrorCode::kAccessDenied;
  }
  return {};
}

enum class Access { kRead, kWrite };

// What the open database is: one of ours, a fresh empty file, or something else.
enum class Content { kStore, kEmpty };

ErrorOr<Content> Identify(sqlite3* db) {
  auto id = QS_TRY(Stmt::Prepare(db, "PRAGMA application_id"));
  if (!QS_TRY(id.Step())) return ErrorCode::kRegistryCorrupt;
  if (id.Int(0) == kApplicationId) return Content::kStore;
  if (id.Int(0) != 0) return ErrorCode::kRegistryCorrupt;
  auto count = QS_TRY(Stmt::Prepare(db, "SELECT count(*) FROM sqlite_master"));
  if (!QS_TRY(count.Step())) return ErrorCode::kRegistryCorrupt;
  if (count.Int(0) != 0) return ErrorCode::kRegistryCorrupt;  // someone else's database
  return Content::kEmpty;
}

ErrorOr<Db> OpenDb(const std::string& file, int flags) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(file.c_str(), &raw, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  Db db(raw);
  if (rc != SQLITE_OK) return FromSqlite(rc);
  sqlite3_extended_result_codes(db.get(), 0);
  sqlite3_busy_timeout(db.get(), kBusyTimeoutMs);
  // With a write-ahead log this keeps every commit atomic and the file consistent, and defers
  // the flush to the next checkpoint; the registry, too, writes its hives back lazily.
  (void)Exec(db.get(), "PRAGMA synchronous=NORMAL");
  return db;
}

// Opens the store for reading. Error 2 means "reads as empty": no file, no settings in it, a
// damaged file, or one that cannot be opened at all.
ErrorOr<Db> OpenForRead() {
  const std::string home = ConfigHome();
  if (home.empty()) return ErrorCode::kFileNotFound;
  const std::string file = home + "/quillstone/registry.db";
  // Read-write without create lets a reader maintain the log's shared index; never creates.
  auto db = OpenDb(file, SQLITE_OPEN_READWRITE);
  if (!db.ok()) db = OpenDb(file, SQLITE_OPEN_READONLY);
  if (!db.ok()) return ErrorCode::kFileNotFound;
  auto content = Identify(db->get());
  if (!content.ok() || *content != Content::kStore) return ErrorCode::kFileNotFound;
  return db;
}

// Opens the store for writing and begins an immediate transaction on it, giving a new file its
// schema inside that transaction. Refuses (1015) a file that is not a settings store.
ErrorOr<Db> BeginWrite() {
  const std::string home = ConfigHome();
  if (home.empty()) return ErrorCode::kAccessDenied;
  const std::string dir = home + "/quillstone";
  QS_TRY_VOID(MakeDirectories(dir));
  Db db = QS_TRY(OpenDb(dir + "/registry.db", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE));
  // Identify before anything can write to the file: a foreign or damaged file stays untouched.
  const Content seen = QS_TRY(Identify(db.get()));
  if (seen == Content::kEmpty) {
    // Best effort: a writer racing us may hold the lock; the journal mode is only a tuning.
    (void)Exec(db.get(), "PRAGMA journal_mode=WAL");
  }
  QS_TRY_VOID(Exec(db.get(), "BEGIN IMMEDIATE"));
  auto content = Identify(db.get());  // again, now that we hold the write lock
  ErrorOr<void> ready;
  if (!content.ok()) {
    ready = content.error();
  } else if (*content == Content::kEmpty) {
    ready = Exec(db.get(), kSchema);
    if (ready.ok()) ready = Exec(db.get(), "PRAGMA application_id=1364415047");
  }
  static_assert(kApplicationId == 1364415047);
  if (!ready.ok()) {
    (void)Exec(db.get(), "ROLLBACK");
    return ready.error();
  }
  return db;
}

// Runs `body` in one write transaction: commits when it succeeds, rolls back otherwise.
template <typename Body>
ErrorOr<void> WriteTransaction(Body&& body) {
  Db db = QS_TRY(BeginWrite());
  ErrorOr<void> result = body(db.get());
  if (result.ok()) result = Exec(db.get(), "COMMIT");
  if (!result.ok()) (void)Exec(db.get(), "ROLLBACK");
  return result;
}

// Runs `body` against one read snapshot of the store, or answers `if_empty` when the store
// reads as empty. A damaged database discovered while reading also reads as empty.
template <typename T, typename Body>
ErrorOr<T> ReadTransaction(ErrorOr<T> if_empty, Body&& body) {
  auto db = OpenForRead();
  if (!db.ok()) return if_empty;
  if (!Exec(db->get(), "BEGIN").ok()) return if_empty;
  ErrorOr<T> result = body(db->get());
  (void)Exec(db->get(), "COMMIT");
  if (!result.ok() && result.error().Is(ErrorCode::kRegistryCorrupt)) return if_empty;
  return result;
}

// --- Queries shared by reads and writes ------------------------------------------------------

ErrorOr<bool> KeyExists(sqlite3* db, const KeyPath& key) {
  if (key.IsHive()) return true;
  auto s = QS_TRY(Stmt::Prepare(db, "SELECT 1 FROM keys WHERE fold = ?1"));
  s.Bind(1, key.fold);
  return s.Step();
}

// The key's path spelled as the store holds it (each name as first written), or nothing when
// the key does not exist.
ErrorOr<std::optional<std::u16string>> StoredPath(sqlite3* db, const KeyPath& key) {
  if (key.IsHive()) return std::optional<std::u16string>(u"");
  auto s = QS_TRY(Stmt::Prepare(db, "SELECT name FROM keys WHERE fold = ?1"));
  std::u16string stored;
  for (size_t end = 0; end != key.path.size();) {
    end = key.path.find(kSeparator, end + 1);
    if (end == std::u16string::npos) end = key.path.size();
    s.Bind(1, Fold(std::u16string_view(key.path).substr(0, end)));
    if (!QS_TRY(s.Step())) return std::optional<std::u16string>();
    if (!stored.empty()) stored += kSeparator;
    stored += FromUtf8(s.Text(0));
    s.Reset();
  }
  return std::optional<std::u16string>(std::move(stored));
}

// The key behind a handle must still be there: 1018 once another writer deleted it.
ErrorOr<void> RequireKey(sqlite3* db, const KeyPath& key) {
  if (!QS_TRY(KeyExists(db, key))) return ErrorCode::kKeyDeleted;
  return {};
}

ErrorOr<std::optional<RegValue>> ReadValue(sqlite3* db, const KeyPath& key,
                                           const std::string& name_fold) {
  auto s = QS_TRY(Stmt::Prepare(db, "SELECT type, data FROM vals WHERE key = ?1 AND fold = ?2"));
  s.Bind(1, key.fold).Bind(2, name_fold);
  if (!QS_TRY(s.Step())) return std::optional<RegValue>();
  return std::optional<RegValue>(RegValue{static_cast<uint32_t>(s.Int(0)), s.Blob(1)});
}

ErrorOr<void> CreateKeyWithParents(sqlite3* db, const KeyPath& key) {
  if (key.IsHive()) return {};
  auto s = QS_TRY(Stmt::Prepare(
      db, "INSERT INTO keys(fold, parent, name) VALUES(?1, ?2, ?3) ON CONFLICT(fold) DO NOTHING"));
  std::string parent_fold;
  for (size_t start = 0; start <= key.path.size();) {
    size_t end = key.path.find(kSeparator, start);
    if (end == std::u16string::npos) end = key.path.size();
    std::string fold = Fold(std::u16string_view(key.path).substr(0, end));
    s.Bind(1, fold).Bind(2, parent_fold).Bind(3, ToUtf8(key.path.substr(start, end - start)));
    QS_TRY_VOID(s.Run());
    s.Reset();
    parent_fold = std::move(fold);
    start = end + 1;
  }
  return {};
}

ErrorOr<void> WriteValue(sqlite3* db, const KeyPath& key, std::u16string_view name,
                         const std::string& name_fold, uint32_t type,
                         std::span<const uint8_t> data) {
  // The name keeps the case it was first written in, and the value its place in the order.
  auto s = QS_TRY(Stmt::Prepare(
      db,
      "INSERT INTO vals(key, fold, name, type, data) VALUES(?1, ?2, ?3, ?4, ?5)"
      " ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data"));
  s.Bind(1, key.fold).Bind(2, name_fold).Bind(3, ToUtf8(name)).Bind(4, int64_t{type});
  s.BindBlob(5, data);
  return s.Run();
}

// Removes a value; reports whether there was one.
ErrorOr<bool> RemoveValue(sqlite3* db, const KeyPath& key, const std::string& name_fold) {
  auto s = QS_TRY(Stmt::Prepare(db, "DELETE FROM vals WHERE key = ?1 AND fold = ?2"));
  s.Bind(1, key.fold).Bind(2, name_fold);
  QS_TRY_VOID(s.Run());
  return sqlite3_changes(db) > 0;
}

// Removes a key with its whole subtree; reports whether it existed. Folded paths compare byte
// for byte, and every descendant's path starts with the key's path and "\" (0x5C), so they all
// sort between "<path>\" and "<path>]" (0x5D).
ErrorOr<bool> RemoveKey(sqlite3* db, const KeyPath& key) {
  const bool existed = QS_TRY(KeyExists(db, key));
  const std::string low = key.fold + "\\";
  const std::string high = key.fold + "]";
  auto v = QS_TRY(Stmt::Prepare(db, "DELETE FROM vals WHERE key = ?1 OR (key >= ?2 AND key < ?3)"));
  v.Bind(1, key.fold).Bind(2, low).Bind(3, high);
  QS_TRY_VOID(v.Run());
  auto k =
      QS_TRY(Stmt::Prepare(db, "DELETE FROM keys WHERE fold = ?1 OR (fold >= ?2 AND fold < ?3)"));
  k.Bind(1, key.fold).Bind(2, low).Bind(3, high);
  QS_TRY_VOID(k.Run());
  return existed;
}

ErrorOr<void> ApplyOne(sqlite3* db, const SettingsOp& op) {
  const KeyPath key = QS_TRY(ParseKeyPath(op.key));
  switch (op.kind) {
    case SettingsOp::Kind::kCreateKey: return CreateKeyWithParents(db, key);
    case SettingsOp::Kind::kDeleteKey:
      if (key.IsHive()) return ErrorCode::kInvalidParameter;
      QS_TRY_VOID(RemoveKey(db, key));
      return {};
    case SettingsOp::Kind::kSetValue: {
      const std::string name_fold = QS_TRY(FoldValueName(op.name));
      QS_TRY_VOID(CreateKeyWithParents(db, key));
      return WriteValue(db, key, op.name, name_fold, op.value.type, op.value.data);
    }
    case SettingsOp::Kind::kDeleteValue: {
      const std::string name_fold = QS_TRY(FoldValueName(op.name));
      QS_TRY_VOID(RemoveValue(db, key, name_fold));
      return {};
    }
  }
  return ErrorCode::kInvalidParameter;
}

// Records a failure as the thread's last error on its way out.
template <typename T>
ErrorOr<T> Report(ErrorOr<T> result) {
  if (!result.ok()) Fail(result.error());
  return result;
}

}  // namespace

std::string SettingsStorePath() {
  const std::string home = ConfigHome();
  return home.empty() ? std::string() : home + "/quillstone/registry.db";
}

ErrorOr<SettingsKey> SettingsKey::Open(std::u16string_view path) {
  auto key = ParseKeyPath(path);
  if (!key.ok()) return Report<SettingsKey>(key.error());
  // The hive is always there, even in a store that reads as empty.
  using Stored = std::optional<std::u16string>;
  auto stored = ReadTransaction<Stored>(key->IsHive() ? Stored(u"") : Stored(),
                                        [&](sqlite3* db) { return StoredPath(db, *key); });
  if (!stored.ok()) return Report<SettingsKey>(stored.error());
  if (!*stored) return Report<SettingsKey>(ErrorCode::kFileNotFound);
  return SettingsKey(std::move(**stored));
}

ErrorOr<SettingsKey> SettingsKey::Create(std::u16string_view path) {
  auto key = ParseKeyPath(path);
  if (!key.ok()) return Report<SettingsKey>(key.error());
  std::optional<std::u16string> stored;
  auto done = WriteTransaction([&](sqlite3* db) -> ErrorOr<void> {
    QS_TRY_VOID(CreateKeyWithParents(db, *key));
    stored = QS_TRY(StoredPath(db, *key));
    return {};
  });
  if (!done.ok()) return Report<SettingsKey>(done.error());
  return SettingsKey(stored ? std::move(*stored) : std::move(key->path));
}

ErrorOr<RegValue> SettingsKey::Query(std::u16string_view name) const {
  const KeyPath key = QS_TRY(Report(ParseKeyPath(path_)));
  const std::string name_fold = QS_TRY(Report(FoldValueName(name)));
  return Report(
      ReadTransaction<RegValue>(ErrorCode::kFileNotFound, [&](sqlite3* db) -> ErrorOr<RegValue> {
        QS_TRY_VOID(RequireKey(db, key));
        auto value = QS_TRY(ReadValue(db, key, name_fold));
        if (!value) return ErrorCode::kFileNotFound;
        return std::move(*value);
      }));
}

ErrorOr<RegValueInfo> SettingsKey::QueryInfo(std::u16string_view name) const {
  auto value = Query(name);
  if (!value.ok()) return value.error();
  return RegValueInfo{value->type, static_cast<uint32_t>(value->data.size())};
}

ErrorOr<uint32_t> SettingsKey::QueryData(std::u16string_view name,
                                         std::span<uint8_t> buffer) const {
  auto value = Query(name);
  if (!value.ok()) return value.error();
  if (value->data.size() > buffer.size()) return Report<uint32_t>(ErrorCode::kMoreData);
  std::copy(value->data.begin(), value->data.end(), buffer.begin());
  return static_cast<uint32_t>(value->data.size());
}

ErrorOr<void> SettingsKey::Set(std::u16string_view name, uint32_t type,
                               std::span<const uint8_t> data) {
  const KeyPath key = QS_TRY(Report(ParseKeyPath(path_)));
  const std::string name_fold = QS_TRY(Report(FoldValueName(name)));
  return Report(WriteTransaction([&](sqlite3* db) -> ErrorOr<void> {
    QS_TRY_VOID(RequireKey(db, key));
    return WriteValue(db, key, name, name_fold, type, data);
  }));
}

ErrorOr<void> SettingsKey::DeleteValue(std::u16string_view name) {
  const KeyPath key = QS_TRY(Report(ParseKeyPath(path_)));
  const std::string name_fold = QS_TRY(Report(FoldValueName(name)));
  return Report(WriteTransaction([&](sqlite3* db) -> ErrorOr<void> {
    QS_TRY_VOID(RequireKey(db, key));
    if (!QS_TRY(RemoveValue(db, key, name_fold))) return ErrorCode::kFileNotFound;
    return {};
  }));
}

ErrorOr<void> SettingsKey::Update(std::u16string_view name, const ValueChange& change) {
  const KeyPath key = QS_TRY(Report(ParseKeyPath(path_)));
  const std::string name_fold = QS_TRY(Report(FoldValueName(name)));
  return Report(WriteTransaction([&](sqlite3* db) -> ErrorOr<void> {
    QS_TRY_VOID(RequireKey(db, key));
    const std::optional<RegValue> current = QS_TRY(ReadValue(db, key, name_fold));
    const RegValue next = QS_TRY(change(current));
    return WriteValue(db, key, name, name_fold, next.type, next.data);
  }));
}

ErrorOr<std::vector<std::u16string>> SettingsKey::SubKeys() const {
  const KeyPath key = QS_TRY(Report(ParseKeyPath(path_)));
  using Names = std::vector<std::u16string>;
  return Report(ReadTransaction<Names>(Names{}, [&](sqlite3* db) -> ErrorOr<Names> {
    QS_TRY_VOID(RequireKey(db, key));
    auto s = QS_TRY(Stmt::Prepare(db, "SELECT name FROM keys WHERE parent = ?1 ORDER BY fold"));
    s.Bind(1, key.fold);
    Names names;
    while (QS_TRY(s.Step())) names.push_back(FromUtf8(s.Text(0)));
    return names;
  }));
}

ErrorOr<std::vector<NamedRegValue>> SettingsKey::Values() const {
  const KeyPath key = QS_TRY(Report(ParseKeyPath(path_)));
  using List = std::vector<NamedRegValue>;
  return Report(ReadTransaction<List>(List{}, [&](sqlite3* db) -> ErrorOr<List> {
    QS_TRY_VOID(RequireKey(db, key));
    auto s =
        QS_TRY(Stmt::Prepare(db, "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY id"));
    s.Bind(1, key.fold);
    List values;
    while (QS_TRY(s.Step())) {
      values.push_back({FromUtf8(s.Text(0)), RegValue{static_cast<uint32_t>(s.Int(1)), s.Blob(2)}});
    }
    return values;
  }));
}

ErrorOr<void> DeleteSettingsKey(std::u16string_view path) {
  const KeyPath key = QS_TRY(Report(ParseKeyPath(path)));
  if (key.IsHive()) return Report<void>(ErrorCode::kInvalidParameter);
  return Report(WriteTransaction([&](sqlite3* db) -> ErrorOr<void> {
    if (!QS_TRY(RemoveKey(db, key))) return ErrorCode::kFileNotFound;
    return {};
  }));
}

ErrorOr<void> ApplySettingsBatch(std::span<const SettingsOp> ops) {
  return Report(WriteTransaction([&](sqlite3* db) -> ErrorOr<void> {
    for (const auto& op : ops) QS_TRY_VOID(ApplyOne(db, op));
    return {};
  }));
}

}  // namespace qs::platform
