// The settings store in one SQLite database per user.
//
// Layout (PRAGMA user_version 1): table `key_nodes` holds every key but the hive itself as one
// row with its parent's id (0 for the hive), its own case-folded name and its name as first
// written, so a key costs the same space however deep it lies, and a path is found one name at
// a time through the (parent, fold) index. Table `key_values` holds the values by key id and
// folded name, with name, type and raw data. Folding is done here, in C++, with the same
// upper-casing the rest of the system compares names with, so SQL only ever compares folded
// text byte for byte.
//
// Layout 0, written by earlier versions, kept each key by its whole folded path (table `keys`)
// and each value by its key's folded path (table `vals`), so a chain of keys cost the square of
// its depth. A layout-0 store is rewritten to layout 1 the first time it is opened; when the
// file cannot be written, each read works on a private layout-1 copy of it.
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

#include <algorithm>
#include <memory>

#include "base/text.h"
#include "platform/last_error.h"

namespace qs::platform {

namespace {

constexpr int kBusyTimeoutMs = 10000;
constexpr int kApplicationId = 0x51535247;  // "QSRG"
constexpr char16_t kSeparator = u'\\';
constexpr int64_t kHiveId = 0;
constexpr int kLayout = 1;
// Value data goes into the file in pieces of this size, so that it is never copied whole.
constexpr size_t kBlobPiece = 1 << 20;

// The tables of the current layout, created in `schema` ("main", or "temp" for a private copy).
std::string LayoutSchema(const std::string& schema) {
  return "CREATE TABLE " + schema +
         ".key_nodes(id INTEGER PRIMARY KEY, parent INTEGER NOT NULL, fold TEXT NOT NULL,"
         " name TEXT NOT NULL, UNIQUE(parent, fold));"
         "CREATE TABLE " +
         schema +
         ".key_values(id INTEGER PRIMARY KEY, key INTEGER NOT NULL, fold TEXT NOT NULL,"
         " name TEXT NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL, UNIQUE(key, fold));";
}

// Copies a layout-0 store (in main) into the current layout's tables in `schema`. Every key gets
// a number; a key's name is what its folded path adds to its parent's. Values keep their ids,
// and with them the order they were first written in.
std::string MigrationFromLayout0(const std::string& schema) {
  return LayoutSchema(schema) +
         "CREATE TEMP TABLE layout0_ids(path TEXT PRIMARY KEY, id INTEGER NOT NULL) WITHOUT ROWID;"
         "INSERT INTO temp.layout0_ids SELECT fold, row_number() OVER (ORDER BY fold)"
         " FROM main.keys;"
         "INSERT INTO " +
         schema +
         ".key_nodes(id, parent, fold, name)"
         " SELECT i.id, coalesce(p.id, 0),"
         " CASE WHEN k.parent = '' THEN k.fold ELSE substr(k.fold, length(k.parent) + 2) END,"
         " k.name FROM main.keys k JOIN temp.layout0_ids i ON i.path = k.fold"
         " LEFT JOIN temp.layout0_ids p ON p.path = k.parent"
         " WHERE k.parent = '' OR p.id IS NOT NULL;"
         "INSERT INTO " +
         schema +
         ".key_values(id, key, fold, name, type, data)"
         " SELECT v.id, coalesce(i.id, 0), v.fold, v.name, v.type, v.data FROM main.vals v"
         " LEFT JOIN temp.layout0_ids i ON i.path = v.key WHERE v.key = '' OR i.id IS NOT NULL;"
         "DROP TABLE temp.layout0_ids;";
}

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

// A key path checked against the store's rules, with each name as given and folded.
struct KeyPath {
  std::u16string path;
  std::vector<std::u16string> names;
  std::vector<std::string> folds;
  bool IsHive() const { return path.empty(); }
};

ErrorOr<KeyPath> ParseKeyPath(std::u16string_view path) {
  KeyPath key{std::u16string(path), {}, {}};
  size_t start = 0;
  while (!path.empty()) {
    size_t end = path.find(kSeparator, start);
    if (end == std::u16string_view::npos) end = path.size();
    if (end == start || end - start > kMaxKeyNameLength || key.names.size() >= kMaxKeyDepth) {
      return ErrorCode::kInvalidParameter;
    }
    key.names.emplace_back(path.substr(start, end - start));
    key.folds.push_back(Fold(key.names.back()));
    if (end == path.size()) break;
    start = end + 1;
  }
  return key;
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

// What the open database is: one of ours (in the current layout or in layout 0), a fresh empty
// file, or something else. A layout newer than this program knows is not read.
enum class Content { kStore, kLayout0, kEmpty };

ErrorOr<Content> Identify(sqlite3* db) {
  auto id = QS_TRY(Stmt::Prepare(db, "PRAGMA application_id"));
  if (!QS_TRY(id.Step())) return ErrorCode::kRegistryCorrupt;
  if (id.Int(0) == kApplicationId) {
    auto version = QS_TRY(Stmt::Prepare(db, "PRAGMA user_version"));
    if (!QS_TRY(version.Step())) return ErrorCode::kRegistryCorrupt;
    if (version.Int(0) == kLayout) return Content::kStore;
    if (version.Int(0) == 0) return Content::kLayout0;
    return ErrorCode::kRegistryCorrupt;
  }
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

ErrorOr<Db> BeginWrite();

// Opens the existing store file without creating it.
ErrorOr<Db> OpenExisting(const std::string& file) {
  // Read-write without create lets a reader maintain the log's shared index; never creates.
  auto db = OpenDb(file, SQLITE_OPEN_READWRITE);
  if (!db.ok()) db = OpenDb(file, SQLITE_OPEN_READONLY);
  return db;
}

// Opens the store for reading. Error 2 means "reads as empty": no file, no settings in it, a
// damaged file, or one that cannot be opened at all.
ErrorOr<Db> OpenForRead() {
  const std::string home = ConfigHome();
  if (home.empty()) return ErrorCode::kFileNotFound;
  const std::string file = home + "/quillstone/registry.db";
  auto db = OpenExisting(file);
  if (!db.ok()) return ErrorCode::kFileNotFound;
  auto content = Identify(db->get());
  if (content.ok() && *content == Content::kLayout0) {
    // Rewritten in place once (BeginWrite migrates); a file that cannot be written is read
    // through a private copy in the current layout.
    db = ErrorCode::kFileNotFound;
    if (auto migrated = BeginWrite(); migrated.ok()) (void)Exec(migrated->get(), "COMMIT");
    db = OpenExisting(file);
    if (!db.ok()) return ErrorCode::kFileNotFound;
    content = Identify(db->get());
    if (content.ok() && *content == Content::kLayout0) {
      if (!Exec(db->get(), MigrationFromLayout0("temp").c_str()).ok()) {
        return ErrorCode::kFileNotFound;
      }
      content = Content::kStore;
    }
  }
  if (!content.ok() || *content != Content::kStore) return ErrorCode::kFileNotFound;
  return db;
}

// Opens the store for writing and begins an immediate transaction on it, giving a new file its
// schema, and a layout-0 file the current layout, inside that transaction. Refuses (1015) a
// file that is not a settings store.
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
    ready = Exec(db.get(), LayoutSchema("main").c_str());
    if (ready.ok()) ready = Exec(db.get(), "PRAGMA application_id=1364415047");
    if (ready.ok()) ready = Exec(db.get(), "PRAGMA user_version=1");
  } else if (*content == Content::kLayout0) {
    ready = Exec(db.get(), (MigrationFromLayout0("main") +
                            "DROP TABLE main.keys; DROP TABLE main.vals; PRAGMA user_version=1;")
                               .c_str());
  }
  static_assert(kApplicationId == 1364415047 && kLayout == 1);
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

struct BlobCloser {
  void operator()(sqlite3_blob* b) const { sqlite3_blob_close(b); }
};

// The key's id, or nothing when it does not exist; `stored` receives its path spelled as the
// store holds it (each name as first written).
ErrorOr<std::optional<int64_t>> FindKey(sqlite3* db, const KeyPath& key,
                                        std::u16string* stored = nullptr) {
  int64_t id = kHiveId;
  if (key.IsHive()) return std::optional<int64_t>(id);
  auto s =
      QS_TRY(Stmt::Prepare(db, "SELECT id, name FROM key_nodes WHERE parent = ?1 AND fold = ?2"));
  for (const std::string& fold : key.folds) {
    s.Bind(1, id).Bind(2, fold);
    if (!QS_TRY(s.Step())) return std::optional<int64_t>();
    id = s.Int(0);
    if (stored != nullptr) {
      if (!stored->empty()) *stored += kSeparator;
      *stored += FromUtf8(s.Text(1));
    }
    s.Reset();
  }
  return std::optional<int64_t>(id);
}

// The id of the key behind a handle, which must still be there: 1018 once another writer
// deleted it.
ErrorOr<int64_t> RequireKey(sqlite3* db, const KeyPath& key) {
  const std::optional<int64_t> id = QS_TRY(FindKey(db, key));
  if (!id) return ErrorCode::kKeyDeleted;
  return *id;
}

ErrorOr<std::optional<RegValue>> ReadValue(sqlite3* db, int64_t key, const std::string& name_fold) {
  auto s =
      QS_TRY(Stmt::Prepare(db, "SELECT type, data FROM key_values WHERE key = ?1 AND fold = ?2"));
  s.Bind(1, key).Bind(2, name_fold);
  if (!QS_TRY(s.Step())) return std::optional<RegValue>();
  return std::optional<RegValue>(RegValue{static_cast<uint32_t>(s.Int(0)), s.Blob(1)});
}

// The key's id, after creating it and every missing parent.
ErrorOr<int64_t> CreateKeyWithParents(sqlite3* db, const KeyPath& key) {
  int64_t id = kHiveId;
  if (key.IsHive()) return id;
  auto find = QS_TRY(Stmt::Prepare(db, "SELECT id FROM key_nodes WHERE parent = ?1 AND fold = ?2"));
  auto insert =
      QS_TRY(Stmt::Prepare(db, "INSERT INTO key_nodes(parent, fold, name) VALUES(?1, ?2, ?3)"));
  for (size_t i = 0; i < key.folds.size(); ++i) {
    find.Bind(1, id).Bind(2, key.folds[i]);
    if (QS_TRY(find.Step())) {
      id = find.Int(0);
    } else {
      insert.Bind(1, id).Bind(2, key.folds[i]).Bind(3, ToUtf8(key.names[i]));
      QS_TRY_VOID(insert.Run());
      insert.Reset();
      id = sqlite3_last_insert_rowid(db);
    }
    find.Reset();
  }
  return id;
}

// Creates or replaces a value. The data goes into the file piece by piece, from the caller's
// buffer: however large it is, no second copy of it is made here.
ErrorOr<void> WriteValue(sqlite3* db, int64_t key, std::u16string_view name,
                         const std::string& name_fold, uint32_t type,
                         std::span<const uint8_t> data) {
  // The name keeps the case it was first written in, and the value its place in the order.
  auto s = QS_TRY(Stmt::Prepare(
      db,
      "INSERT INTO key_values(key, fold, name, type, data) VALUES(?1, ?2, ?3, ?4, zeroblob(?5))"
      " ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data"
      " RETURNING id"));
  s.Bind(1, key).Bind(2, name_fold).Bind(3, ToUtf8(name)).Bind(4, int64_t{type});
  s.Bind(5, static_cast<int64_t>(data.size()));
  if (!QS_TRY(s.Step())) return ErrorCode::kRegistryIoFailed;
  const int64_t row = s.Int(0);
  QS_TRY_VOID(s.Run());  // the statement ends
  if (data.empty()) return {};
  sqlite3_blob* raw = nullptr;
  const int rc = sqlite3_blob_open(db, "main", "key_values", "data", row, 1, &raw);
  std::unique_ptr<sqlite3_blob, BlobCloser> blob(raw);
  if (rc != SQLITE_OK) return FromSqlite(rc);
  for (size_t at = 0; at < data.size(); at += kBlobPiece) {
    const size_t n = std::min(kBlobPiece, data.size() - at);
    const int wrc =
        sqlite3_blob_write(blob.get(), data.data() + at, static_cast<int>(n), static_cast<int>(at));
    if (wrc != SQLITE_OK) return FromSqlite(wrc);
  }
  return {};
}

// Removes a value; reports whether there was one.
ErrorOr<bool> RemoveValue(sqlite3* db, int64_t key, const std::string& name_fold) {
  auto s = QS_TRY(Stmt::Prepare(db, "DELETE FROM key_values WHERE key = ?1 AND fold = ?2"));
  s.Bind(1, key).Bind(2, name_fold);
  QS_TRY_VOID(s.Run());
  return sqlite3_changes(db) > 0;
}

// Removes a key with its whole subtree; reports whether it existed.
ErrorOr<bool> RemoveKey(sqlite3* db, const KeyPath& key) {
  const std::optional<int64_t> id = QS_TRY(FindKey(db, key));
  if (!id) return false;
  constexpr const char* kSubtree =
      "WITH RECURSIVE subtree(id) AS (SELECT ?1 UNION ALL"
      " SELECT k.id FROM key_nodes k JOIN subtree ON k.parent = subtree.id) ";
  auto v = QS_TRY(Stmt::Prepare(
      db, (std::string(kSubtree) + "DELETE FROM key_values WHERE key IN (SELECT id FROM subtree)")
              .c_str()));
  v.Bind(1, *id);
  QS_TRY_VOID(v.Run());
  auto k = QS_TRY(Stmt::Prepare(
      db, (std::string(kSubtree) + "DELETE FROM key_nodes WHERE id IN (SELECT id FROM subtree)")
              .c_str()));
  k.Bind(1, *id);
  QS_TRY_VOID(k.Run());
  return true;
}

ErrorOr<void> ApplyOne(sqlite3* db, const SettingsOp& op) {
  const KeyPath key = QS_TRY(ParseKeyPath(op.key));
  switch (op.kind) {
    case SettingsOp::Kind::kCreateKey: QS_TRY_VOID(CreateKeyWithParents(db, key)); return {};
    case SettingsOp::Kind::kDeleteKey:
      if (key.IsHive()) return ErrorCode::kInvalidParameter;
      QS_TRY_VOID(RemoveKey(db, key));
      return {};
    case SettingsOp::Kind::kSetValue: {
      const std::string name_fold = QS_TRY(FoldValueName(op.name));
      const int64_t id = QS_TRY(CreateKeyWithParents(db, key));
      return WriteValue(db, id, op.name, name_fold, op.value.type, op.value.data);
    }
    case SettingsOp::Kind::kDeleteValue: {
      const std::string name_fold = QS_TRY(FoldValueName(op.name));
      const std::optional<int64_t> id = QS_TRY(FindKey(db, key));
      if (id) QS_TRY_VOID(RemoveValue(db, *id, name_fold));
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
                                        [&](sqlite3* db) -> ErrorOr<Stored> {
                                          std::u16string spelled;
                                          if (!QS_TRY(FindKey(db, *key, &spelled))) return Stored();
                                          return Stored(std::move(spelled));
                                        });
  if (!stored.ok()) return Report<SettingsKey>(stored.error());
  if (!*stored) return Report<SettingsKey>(ErrorCode::kFileNotFound);
  return SettingsKey(std::move(**stored));
}

ErrorOr<SettingsKey> SettingsKey::Create(std::u16string_view path) {
  auto key = ParseKeyPath(path);
  if (!key.ok()) return Report<SettingsKey>(key.error());
  std::u16string stored;
  auto done = WriteTransaction([&](sqlite3* db) -> ErrorOr<void> {
    QS_TRY_VOID(CreateKeyWithParents(db, *key));
    QS_TRY_VOID(FindKey(db, *key, &stored));
    return {};
  });
  if (!done.ok()) return Report<SettingsKey>(done.error());
  return SettingsKey(std::move(stored));
}

ErrorOr<RegValue> SettingsKey::Query(std::u16string_view name) const {
  const KeyPath key = QS_TRY(Report(ParseKeyPath(path_)));
  const std::string name_fold = QS_TRY(Report(FoldValueName(name)));
  return Report(
      ReadTransaction<RegValue>(ErrorCode::kFileNotFound, [&](sqlite3* db) -> ErrorOr<RegValue> {
        const int64_t id = QS_TRY(RequireKey(db, key));
        auto value = QS_TRY(ReadValue(db, id, name_fold));
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
    const int64_t id = QS_TRY(RequireKey(db, key));
    return WriteValue(db, id, name, name_fold, type, data);
  }));
}

ErrorOr<void> SettingsKey::DeleteValue(std::u16string_view name) {
  const KeyPath key = QS_TRY(Report(ParseKeyPath(path_)));
  const std::string name_fold = QS_TRY(Report(FoldValueName(name)));
  return Report(WriteTransaction([&](sqlite3* db) -> ErrorOr<void> {
    const int64_t id = QS_TRY(RequireKey(db, key));
    if (!QS_TRY(RemoveValue(db, id, name_fold))) return ErrorCode::kFileNotFound;
    return {};
  }));
}

ErrorOr<void> SettingsKey::Update(std::u16string_view name, const ValueChange& change) {
  const KeyPath key = QS_TRY(Report(ParseKeyPath(path_)));
  const std::string name_fold = QS_TRY(Report(FoldValueName(name)));
  return Report(WriteTransaction([&](sqlite3* db) -> ErrorOr<void> {
    const int64_t id = QS_TRY(RequireKey(db, key));
    const std::optional<RegValue> current = QS_TRY(ReadValue(db, id, name_fold));
    const RegValue next = QS_TRY(change(current));
    return WriteValue(db, id, name, name_fold, next.type, next.data);
  }));
}

ErrorOr<std::vector<std::u16string>> SettingsKey::SubKeys() const {
  const KeyPath key = QS_TRY(Report(ParseKeyPath(path_)));
  using Names = std::vector<std::u16string>;
  return Report(ReadTransaction<Names>(Names{}, [&](sqlite3* db) -> ErrorOr<Names> {
    const int64_t id = QS_TRY(RequireKey(db, key));
    auto s =
        QS_TRY(Stmt::Prepare(db, "SELECT name FROM key_nodes WHERE parent = ?1 ORDER BY fold"));
    s.Bind(1, id);
    Names names;
    while (QS_TRY(s.Step())) names.push_back(FromUtf8(s.Text(0)));
    return names;
  }));
}

ErrorOr<std::vector<NamedRegValue>> SettingsKey::Values() const {
  const KeyPath key = QS_TRY(Report(ParseKeyPath(path_)));
  using List = std::vector<NamedRegValue>;
  return Report(ReadTransaction<List>(List{}, [&](sqlite3* db) -> ErrorOr<List> {
    const int64_t id = QS_TRY(RequireKey(db, key));
    // The order first, then each value: sorting whole rows would copy every value's data into
    // the sorter as well.
    auto order = QS_TRY(Stmt::Prepare(db, "SELECT id FROM key_values WHERE key = ?1 ORDER BY id"));
    order.Bind(1, id);
    auto row = QS_TRY(Stmt::Prepare(db, "SELECT name, type, data FROM key_values WHERE id = ?1"));
    List values;
    while (QS_TRY(order.Step())) {
      row.Reset();
      row.Bind(1, order.Int(0));
      if (!QS_TRY(row.Step())) return ErrorCode::kRegistryCorrupt;
      values.push_back(
          {FromUtf8(row.Text(0)), RegValue{static_cast<uint32_t>(row.Int(1)), row.Blob(2)}});
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

struct SettingsBatch::Connection {
  Db db;
  bool open = true;  // the transaction is still running
};

SettingsBatch::SettingsBatch(std::unique_ptr<Connection> connection)
    : connection_(std::move(connection)) {}
SettingsBatch::SettingsBatch(SettingsBatch&&) noexcept = default;
SettingsBatch& SettingsBatch::operator=(SettingsBatch&&) noexcept = default;

SettingsBatch::~SettingsBatch() {
  if (connection_ && connection_->open) (void)Exec(connection_->db.get(), "ROLLBACK");
}

ErrorOr<SettingsBatch> SettingsBatch::Begin() {
  auto db = BeginWrite();
  if (!db.ok()) return Report<SettingsBatch>(db.error());
  return SettingsBatch(std::make_unique<Connection>(Connection{std::move(*db)}));
}

ErrorOr<void> SettingsBatch::Apply(const SettingsOp& op) {
  if (!connection_ || !connection_->open) return Report<void>(ErrorCode::kInvalidParameter);
  return Report(ApplyOne(connection_->db.get(), op));
}

ErrorOr<void> SettingsBatch::Commit() {
  if (!connection_ || !connection_->open) return Report<void>(ErrorCode::kInvalidParameter);
  auto done = Exec(connection_->db.get(), "COMMIT");
  if (!done.ok()) return Report(done);
  connection_->open = false;
  return {};
}

ErrorOr<void> ApplySettingsBatch(std::span<const SettingsOp> ops) {
  SettingsBatch batch = QS_TRY(SettingsBatch::Begin());
  for (const auto& op : ops) QS_TRY_VOID(batch.Apply(op));
  return batch.Commit();
}

}  // namespace qs::platform
