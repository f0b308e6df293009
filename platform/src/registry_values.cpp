// A key's values for the tools, in the order the key got them.
#include <winsim/registry.h>

#include <winsim/db.h>
#include <winsim/machine.h>

#include "registry_names.h"
#include "registry_store.h"

namespace winsim {

std::vector<RegistryValue> ReadKeyValues(std::string_view path) {
  const unsigned codepage = CurrentMachine().Settings().codepage;
  std::vector<std::string_view> names;
  if (!reg::SplitKeyPath(path, codepage, &names)) return {};
  Db& db = CurrentMachine().Database();
  std::optional<int64_t> key = reg::FindKey(db, reg::JoinedPath("", names, codepage));
  if (!key) return {};
  Stmt s(db, "SELECT name, type, data FROM reg_values WHERE key = ? ORDER BY id");
  s.Bind(1, *key);
  std::vector<RegistryValue> values;
  while (s.Step()) values.push_back({s.Text(0), static_cast<DWORD>(s.Int(1)), s.Text(2)});
  return values;
}

}  // namespace winsim
