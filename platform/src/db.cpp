#include <winsim/db.h>

#include <chrono>
#include <thread>

namespace winsim {

Db::Db(const std::string& path, bool create) {
  const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
  int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close(db_);
    db_ = nullptr;
    throw DbError("cannot open " + path + ": " + message, rc);
  }
  sqlite3_extended_result_codes(db_, 1);
  // Every process of the machine writes here; waiting beats failing.
  sqlite3_busy_timeout(db_, 30000);
  Exec("PRAGMA journal_mode=WAL");
  Exec("PRAGMA synchronous=NORMAL");
  Exec("PRAGMA foreign_keys=ON");
}

Db::~Db() {
  for (auto& [sql, stmt] : cache_) sqlite3_finalize(stmt);
  sqlite3_close(db_);
}

void Db::Fail(const char* what, int rc) {
  throw DbError(std::string(what) + ": " + sqlite3_errmsg(db_), rc);
}

void Db::Exec(const char* sql) {
  std::lock_guard lock(mutex_);
  char* error = nullptr;
  int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &error);
  if (rc != SQLITE_OK) {
    std::string message = error ? error : sqlite3_errstr(rc);
    sqlite3_free(error);
    throw DbError(std::string(sql) + ": " + message, rc);
  }
}

int64_t Db::LastInsertId() { return sqlite3_last_insert_rowid(db_); }
int Db::Changes() { return sqlite3_changes(db_); }

sqlite3_stmt* Db::Prepared(const char* sql) {
  auto it = cache_.find(sql);
  if (it != cache_.end()) return it->second;
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
  if (rc != SQLITE_OK) Fail(sql, rc);
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
  db_.Fail(sqlite3_sql(stmt_), rc);
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

}  // namespace winsim
