#include <winsim/db.h>

#include <chrono>
#include <thread>

namespace winsim {
namespace {

const char* Meaning(int code) {
  switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return "machine busy: another program holds it too long (try again)";
    case SQLITE_FULL:
      return "disk full";
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return "machine damaged: its database cannot be read";
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return "the machine may not be changed (read-only)";
    case SQLITE_NOMEM:
      return "out of memory";
    case SQLITE_CANTOPEN:
      return "cannot open the machine's database";
    case SQLITE_TOOBIG:
      return "data too large for the machine";
    case SQLITE_IOERR:
      return "cannot read or write the machine's files";
    default:
      return "machine failure";
  }
}

}  // namespace

DbError::DbError(int code) : std::runtime_error(Meaning(code)), code_(code) {}

Db::Db(const std::string& path, bool create) {
  const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
  int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_close(db_);
    db_ = nullptr;
    throw DbError(rc);
  }
  sqlite3_extended_result_codes(db_, 1);
  // Every process of the machine writes here; waiting beats failing.
  sqlite3_busy_timeout(db_, kBusyWaitMs);
  Exec("PRAGMA journal_mode=WAL");
  Exec("PRAGMA synchronous=NORMAL");
  Exec("PRAGMA foreign_keys=ON");
}

Db::~Db() {
  for (auto& [sql, stmt] : cache_) sqlite3_finalize(stmt);
  sqlite3_close(db_);
}

void Db::Fail(int rc) { throw DbError(rc); }

void Db::Exec(const char* sql) {
  std::lock_guard lock(mutex_);
  int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) Fail(rc);
}

int64_t Db::LastInsertId() { return sqlite3_last_insert_rowid(db_); }
int Db::Changes() { return sqlite3_changes(db_); }

sqlite3_stmt* Db::Prepared(const char* sql) {
  auto it = cache_.find(sql);
  if (it != cache_.end()) return it->second;
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
  if (rc != SQLITE_OK) Fail(rc);
  cache_.emplace(sql, stmt);
  return stmt;
}

Stmt::Stmt(Db& db, const char* sql) : db_(db) {
  db_.Mutex().lock();
  try {
    stmt_ = db_.Prepared(sql);
  } catch (...) {
    db_.Mutex().unlock();
    throw;
  }
}

Stmt::~Stmt() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
  db_.Mutex().unlock();
}

Stmt& Stmt::Bind(int index, int64_t value) {
  sqlite3_bind_int64(stmt_, index, value);
  return *this;
}

Stmt& Stmt::Bind(int index, std::string_view text) {
  sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  return *this;
}

Stmt& Stmt::BindBlob(int index, const void* data, size_t size) {
  sqlite3_bind_blob(stmt_, index, size ? data : "", static_cast<int>(size), SQLITE_TRANSIENT);
  return *this;
}

Stmt& Stmt::BindNull(int index) {
  sqlite3_bind_null(stmt_, index);
  return *this;
}

bool Stmt::Step() {
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  db_.Fail(rc);
}

void Stmt::Run() {
  while (Step()) {
  }
}

int64_t Stmt::Int(int column) const { return sqlite3_column_int64(stmt_, column); }

std::string Stmt::Text(int column) const {
  auto* p = reinterpret_cast<const char*>(sqlite3_column_blob(stmt_, column));
  int n = sqlite3_column_bytes(stmt_, column);
  return p ? std::string(p, static_cast<size_t>(n)) : std::string();
}

std::vector<unsigned char> Stmt::Blob(int column) const {
  auto* p = static_cast<const unsigned char*>(sqlite3_column_blob(stmt_, column));
  int n = sqlite3_column_bytes(stmt_, column);
  return p ? std::vector<unsigned char>(p, p + n) : std::vector<unsigned char>();
}

bool Stmt::IsNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

Tx::Tx(Db& db) : db_(db), lock_(db.Mutex()) {
  db_.Exec("BEGIN IMMEDIATE");
  open_ = true;
}

Tx::~Tx() {
  if (open_) {
    try {
      db_.Exec("ROLLBACK");
    } catch (...) {
    }
  }
}

void Tx::Commit() {
  db_.Exec("COMMIT");
  open_ = false;
}

ReadTx::ReadTx(Db& db) : db_(db), lock_(db.Mutex()) { db_.Exec("BEGIN"); }

ReadTx::~ReadTx() {
  try {
    db_.Exec("COMMIT");
  } catch (...) {
    // Nothing was written: a read that cannot end leaves nothing to undo.
  }
}

}  // namespace winsim
