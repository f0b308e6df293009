// HKEY_LOCAL_MACHINE in the machine's database: keys found by their folded path, values by their
// key and folded name. Writers call these inside a Tx so that every process sees whole changes.
#ifndef WINSIM_REGISTRY_STORE_H
#define WINSIM_REGISTRY_STORE_H

#include <windows.h>

#include <winsim/db.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace winsim::reg {

inline constexpr int64_t kRootKey = 1;

struct KeyRow {
  int64_t id;
  std::string path;  // folded
};

struct ValueData {
  DWORD type = REG_NONE;
  std::vector<unsigned char> data;
};

std::optional<int64_t> FindKey(Db& db, std::string_view path);
bool KeyExists(Db& db, int64_t id);
bool HasSubkeys(Db& db, int64_t id);

// Finds or creates each of `names` in turn below `parent`; the last one.
KeyRow CreateKeys(Db& db, const KeyRow& parent, const std::vector<std::string_view>& names, unsigned codepage);

// The key with every key below it, and all their values.
void DeleteTree(Db& db, int64_t id);

std::optional<ValueData> FindValue(Db& db, int64_t key, std::string_view fold);
// Keeps the name as first written when the value exists.
void SetValue(Db& db, int64_t key, std::string_view name, std::string_view fold, DWORD type, const void* data,
              size_t size);
// False when there was no such value.
bool DeleteValue(Db& db, int64_t key, std::string_view fold);

}  // namespace winsim::reg

#endif
