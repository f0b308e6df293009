// A small layer over the machine's SQLite database, shared by every process of the machine.
#ifndef WINSIM_DB_H
#define WINSIM_DB_H

#include <sqlite3.h>

#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace winsim {

// A failure of the database, said in the user's terms ("machine busy", "disk full", "machine
// damaged"): never the SQL nor SQLite's own words, which mean nothing to a user of the machine.
class DbError : public std::runtime_error {
 public:
  explicit DbError(int code);
  int Code() const { return code_; }

 private:
  int code_;
};

// How long a writer waits for another process's write to end before it gives up as "machine busy".
// Every write is short, so only a stopped or stuck process makes anyone wait this long.
inline constexpr int kBusyWaitMs = 10000;

class Db;

// A prepared statement from the connection's cache, reset when the Stmt goes.
class Stmt {
 public:
  Stmt(Db& db, const char* sql);
  ~Stmt();
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;

  Stmt& Bind(int index, int64_t value);
  Stmt& Bind(int index, std::string_view text);  // bound as TEXT
  Stmt& BindBlob(int index, const void* data, size_t size);
  Stmt& BindNull(int index);
  // Steps once: true while a row is there.
  bool Step();
  // Runs a statement that returns no rows.
  void Run();

  int64_t Int(int column) const;
  std::string Text(int column) const;
  std::vector<unsigned char> Blob(int column) const;
  bool IsNull(int column) const;

 private:
  Db& db_;
  sqlite3_stmt* stmt_;
};

class Db {
 public:
  explicit Db(const std::string& path, bool create);
  ~Db();
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;

  void Exec(const char* sql);
  int64_t LastInsertId();
  int Changes();
  sqlite3* Raw() { return db_; }
  // One process may use the connection from several threads; Stmt and Tx take this.
  std::recursive_mutex& Mutex() { return mutex_; }
  sqlite3_stmt* Prepared(const char* sql);
  [[noreturn]] void Fail(int rc);

 private:
  sqlite3* db_ = nullptr;
  std::recursive_mutex mutex_;
  std::unordered_map<const char*, sqlite3_stmt*> cache_;
};

// A read transaction: one consistent view of the machine while other processes go on writing.
class ReadTx {
 public:
  explicit ReadTx(Db& db);
  ~ReadTx();
  ReadTx(const ReadTx&) = delete;
  ReadTx& operator=(const ReadTx&) = delete;

 private:
  Db& db_;
  std::unique_lock<std::recursive_mutex> lock_;
};

// A write transaction (BEGIN IMMEDIATE): commits in Commit(), rolls back if destroyed before.
class Tx {
 public:
  explicit Tx(Db& db);
  ~Tx();
  Tx(const Tx&) = delete;
  Tx& operator=(const Tx&) = delete;
  void Commit();

 private:
  Db& db_;
  std::unique_lock<std::recursive_mutex> lock_;
  bool open_ = false;
};

}  // namespace winsim

#endif
