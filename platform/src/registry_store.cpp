#include "registry_store.h"

#include "registry_names.h"

namespace winsim::reg {

std::optional<int64_t> FindKey(Db& db, std::string_view path) {
  Stmt s(db, "SELECT id FROM reg_keys WHERE path = ?");
  s.Bind(1, path);
  if (!s.Step()) return std::nullopt;
  return s.Int(0);
}

bool KeyExists(Db& db, int64_t id) {
  Stmt s(db, "SELECT 1 FROM reg_keys WHERE id = ?");
  s.Bind(1, id);
  return s.Step();
}

bool HasSubkeys(Db& db, int64_t id) {
  Stmt s(db, "SELECT 1 FROM reg_keys WHERE parent = ? LIMIT 1");
  s.Bind(1, id);
  return s.Step();
}

KeyRow CreateKeys(Db& db, const KeyRow& parent, const std::vector<std::string_view>& names, unsigned codepage) {
  KeyRow key = parent;
  for (std::string_view name : names) {
    std::string path = ChildPath(key.path, name, codepage);
    if (std::optional<int64_t> found = FindKey(db, path)) {
      key = {*found, std::move(path)};
      continue;
    }
    Stmt s(db, "INSERT INTO reg_keys(parent, name, path) VALUES (?, ?, ?)");
    s.Bind(1, key.id).Bind(2, name).Bind(3, path).Run();
    key = {db.LastInsertId(), std::move(path)};
  }
  return key;
}

void DeleteTree(Db& db, int64_t id) {
  // Walks the parent links, which know no depth limit, rather than matching path prefixes: a
  // double-byte name may hold a backslash byte.
  Stmt(db,
       "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL SELECT k.id FROM reg_keys k JOIN tree ON k.parent = tree.id) "
       "DELETE FROM reg_values WHERE key IN tree")
      .Bind(1, id)
      .Run();
  Stmt(db,
       "WITH RECURSIVE tree(id) AS (SELECT ?1 UNION ALL SELECT k.id FROM reg_keys k JOIN tree ON k.parent = tree.id) "
       "DELETE FROM reg_keys WHERE id IN tree")
      .Bind(1, id)
      .Run();
}

std::optional<ValueData> FindValue(Db& db, int64_t key, std::string_view fold) {
  Stmt s(db, "SELECT type, data FROM reg_values WHERE key = ? AND fold = ?");
  s.Bind(1, key).Bind(2, fold);
  if (!s.Step()) return std::nullopt;
  return ValueData{static_cast<DWORD>(s.Int(0)), s.Blob(1)};
}

void SetValue(Db& db, int64_t key, std::string_view name, std::string_view fold, DWORD type, const void* data,
              size_t size) {
  Stmt s(db,
         "INSERT INTO reg_values(key, name, fold, type, data) VALUES (?, ?, ?, ?, ?) "
         "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data");
  s.Bind(1, key).Bind(2, name).Bind(3, fold).Bind(4, static_cast<int64_t>(type)).BindBlob(5, data, size).Run();
}

bool DeleteValue(Db& db, int64_t key, std::string_view fold) {
  Stmt s(db, "DELETE FROM reg_values WHERE key = ? AND fold = ?");
  s.Bind(1, key).Bind(2, fold).Run();
  return db.Changes() > 0;
}

}  // namespace winsim::reg
