// The registry calls: HKEY_LOCAL_MACHINE of the machine, shared by all its processes.
#include <windows.h>

#include <winsim/call.h>
#include <winsim/db.h>
#include <winsim/handles.h>
#include <winsim/machine.h>

#include "registry_names.h"
#include "registry_store.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace {

using winsim::Db;
using winsim::Tx;
namespace reg = winsim::reg;

// An opened key. Keys are never renamed, so the folded path stays right for the key's life; the
// id tells a deleted key from a later one of the same name.
class KeyObject : public winsim::HandleObject {
 public:
  KeyObject(int64_t id, std::string path, std::string shown, size_t depth)
      : id_(id), path_(std::move(path)), shown_(std::move(shown)), depth_(depth) {}
  std::string Describe() const override { return "key HKEY_LOCAL_MACHINE" + (shown_.empty() ? "" : "\\" + shown_); }
  int64_t Id() const { return id_; }
  const std::string& Path() const { return path_; }
  const std::string& Shown() const { return shown_; }
  size_t Depth() const { return depth_; }
  bool IsRoot() const { return id_ == reg::kRootKey; }
  reg::KeyRow Row() const { return {id_, path_}; }

 private:
  int64_t id_;
  std::string path_;
  std::string shown_;  // as the caller wrote it, for the trace
  size_t depth_;       // levels below HKEY_LOCAL_MACHINE
};

const std::shared_ptr<const KeyObject>& RootKey() {
  static const auto root = std::make_shared<const KeyObject>(reg::kRootKey, "", "", 0);
  return root;
}

// The key behind a handle: HKEY_LOCAL_MACHINE, or one this process opened and has not closed.
// The machine has no other root.
std::shared_ptr<const KeyObject> Resolve(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE) return RootKey();
  return winsim::FindHandleOf<KeyObject>(key);
}

Db& Database() { return winsim::CurrentMachine().Database(); }
unsigned CodePage() { return winsim::CurrentMachine().Settings().codepage; }

std::string ShownChild(const KeyObject& base, std::string_view sub) {
  std::string shown = base.Shown();
  if (!shown.empty()) shown += '\\';
  shown += sub;
  if (!shown.empty() && shown.back() == '\\') shown.pop_back();
  return shown;
}

HKEY NewHandle(int64_t id, std::string path, std::string shown, size_t depth) {
  auto object = std::make_shared<KeyObject>(id, std::move(path), std::move(shown), depth);
  return reinterpret_cast<HKEY>(winsim::AddHandle(std::move(object)));
}

// A base other than the root may have been deleted since it was opened.
bool Gone(Db& db, const KeyObject& base) { return !base.IsRoot() && !reg::KeyExists(db, base.Id()); }

// Errors of the machine itself (machine busy, disk full, machine damaged, no machine) end as
// Windows' registry failure; the cause, in the user's terms, goes to stderr, since no return value
// can carry it.
template <class F>
LONG Guarded(const winsim::Call& call, F&& body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "winsim: %s: %s\n", call.Name(), e.what());
    return ERROR_REGISTRY_IO_FAILED;
  }
}

LONG OpenKey(HKEY key, LPCSTR sub, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  auto base = Resolve(key);
  if (!base) return ERROR_INVALID_HANDLE;
  // Without a subkey Windows hands back the very handle it was given.
  if (!sub || !*sub) {
    *result = key;
    return ERROR_SUCCESS;
  }
  const unsigned codepage = CodePage();
  std::vector<std::string_view> names;
  if (reg::NameCheck check = reg::SplitKeyPath(sub, codepage, &names); !check) return static_cast<LONG>(check.error);
  std::string path = reg::JoinedPath(base->Path(), names, codepage);
  Db& db = Database();
  if (Gone(db, *base)) return ERROR_KEY_DELETED;
  std::optional<int64_t> id = reg::FindKey(db, path);
  if (!id) return ERROR_FILE_NOT_FOUND;
  *result = NewHandle(*id, std::move(path), ShownChild(*base, sub), base->Depth() + names.size());
  return ERROR_SUCCESS;
}

LONG CreateKey(HKEY key, LPCSTR sub, PHKEY result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  auto base = Resolve(key);
  if (!base) return ERROR_INVALID_HANDLE;
  if (!sub && key == HKEY_LOCAL_MACHINE) {
    *result = key;
    return ERROR_SUCCESS;
  }
  const unsigned codepage = CodePage();
  std::vector<std::string_view> names;
  if (reg::NameCheck check = reg::SplitKeyPath(sub ? sub : "", codepage, &names); !check)
    return static_cast<LONG>(check.error);
  if (reg::NameCheck check = reg::CheckDepth(base->Depth() + names.size()); !check)
    return static_cast<LONG>(check.error);
  Db& db = Database();
  Tx tx(db);
  if (Gone(db, *base)) return ERROR_KEY_DELETED;
  reg::KeyRow created = reg::CreateKeys(db, base->Row(), names, codepage);
  tx.Commit();
  *result =
      NewHandle(created.id, std::move(created.path), ShownChild(*base, sub ? sub : ""), base->Depth() + names.size());
  return ERROR_SUCCESS;
}

// A value name as the calls take it (null is the default value) and as it is stored to be found.
struct ValueName {
  std::string_view name;
  std::string folded;
};

LONG CheckedValueName(LPCSTR name, ValueName* out) {
  const unsigned codepage = CodePage();
  out->name = name ? name : "";
  if (reg::NameCheck check = reg::CheckValueName(out->name, codepage); !check) return static_cast<LONG>(check.error);
  out->folded = reg::Folded(out->name, codepage);
  return ERROR_SUCCESS;
}

LONG QueryValue(HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
  if (reserved || (data && !size)) return ERROR_INVALID_PARAMETER;
  auto base = Resolve(key);
  if (!base) return ERROR_INVALID_HANDLE;
  ValueName value_name;
  if (LONG error = CheckedValueName(name, &value_name); error != ERROR_SUCCESS) return error;
  Db& db = Database();
  std::optional<reg::ValueData> value = reg::FindValue(db, base->Id(), value_name.folded);
  if (!value) return Gone(db, *base) ? ERROR_KEY_DELETED : ERROR_FILE_NOT_FOUND;
  const DWORD needed = static_cast<DWORD>(value->data.size());
  if (type) *type = value->type;
  if (!size) return ERROR_SUCCESS;
  if (data && *size < needed) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  if (data && needed) std::memcpy(data, value->data.data(), needed);
  *size = needed;
  return ERROR_SUCCESS;
}

LONG SetValue(HKEY key, LPCSTR name, DWORD type, const BYTE* data, DWORD size) {
  auto base = Resolve(key);
  if (!base) return ERROR_INVALID_HANDLE;
  // Windows reads the caller's buffer and faults on a null one.
  if (!data && size) return ERROR_NOACCESS;
  ValueName value_name;
  if (LONG error = CheckedValueName(name, &value_name); error != ERROR_SUCCESS) return error;
  Db& db = Database();
  Tx tx(db);
  if (Gone(db, *base)) return ERROR_KEY_DELETED;
  reg::SetValue(db, base->Id(), value_name.name, value_name.folded, type, data, size);
  tx.Commit();
  return ERROR_SUCCESS;
}

LONG DeleteValue(HKEY key, LPCSTR name) {
  auto base = Resolve(key);
  if (!base) return ERROR_INVALID_HANDLE;
  ValueName value_name;
  if (LONG error = CheckedValueName(name, &value_name); error != ERROR_SUCCESS) return error;
  Db& db = Database();
  Tx tx(db);
  if (Gone(db, *base)) return ERROR_KEY_DELETED;
  if (!reg::DeleteValue(db, base->Id(), value_name.folded)) return ERROR_FILE_NOT_FOUND;
  tx.Commit();
  return ERROR_SUCCESS;
}

LONG DeleteKey(HKEY key, LPCSTR sub) {
  if (!sub) return ERROR_INVALID_PARAMETER;
  auto base = Resolve(key);
  if (!base) return ERROR_INVALID_HANDLE;
  const unsigned codepage = CodePage();
  std::vector<std::string_view> names;
  if (reg::NameCheck check = reg::SplitKeyPath(sub, codepage, &names); !check) return static_cast<LONG>(check.error);
  // An empty subkey names the handle's own key; the root itself cannot go (assumed: access denied).
  if (names.empty() && base->IsRoot()) return ERROR_ACCESS_DENIED;
  std::string path = reg::JoinedPath(base->Path(), names, codepage);
  Db& db = Database();
  Tx tx(db);
  if (Gone(db, *base)) return ERROR_KEY_DELETED;
  std::optional<int64_t> id = reg::FindKey(db, path);
  if (!id) return ERROR_FILE_NOT_FOUND;
  if (winsim::CurrentMachine().Settings().os == winsim::WindowsFlavour::Nt4 && reg::HasSubkeys(db, *id))
    return ERROR_ACCESS_DENIED;
  reg::DeleteTree(db, *id);
  tx.Commit();
  return ERROR_SUCCESS;
}

LONG CloseKey(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
  const auto value = reinterpret_cast<uintptr_t>(key);
  if (!winsim::FindHandleOf<KeyObject>(value) || !winsim::RemoveHandle(value)) return ERROR_INVALID_HANDLE;
  return ERROR_SUCCESS;
}

}  // namespace

extern "C" LONG WINAPI RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
  winsim::Call call("RegOpenKeyA", hKey, lpSubKey);
  if (call.Faulted()) return call.Fail(static_cast<LONG>(call.FaultError()));
  return call.Return(Guarded(call, [&] { return OpenKey(hKey, lpSubKey, phkResult); }));
}

extern "C" LONG WINAPI RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
  winsim::Call call("RegCreateKeyA", hKey, lpSubKey);
  if (call.Faulted()) return call.Fail(static_cast<LONG>(call.FaultError()));
  return call.Return(Guarded(call, [&] { return CreateKey(hKey, lpSubKey, phkResult); }));
}

extern "C" LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                        LPBYTE lpData, LPDWORD lpcbData) {
  winsim::Call call("RegQueryValueExA", hKey, lpValueName);
  if (call.Faulted()) return call.Fail(static_cast<LONG>(call.FaultError()));
  return call.Return(
      Guarded(call, [&] { return QueryValue(hKey, lpValueName, lpReserved, lpType, lpData, lpcbData); }));
}

extern "C" LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                                      DWORD cbData) {
  winsim::Call call("RegSetValueExA", hKey, lpValueName, dwType, cbData);
  if (call.Faulted()) return call.Fail(static_cast<LONG>(call.FaultError()));
  return call.Return(Guarded(call, [&] { return SetValue(hKey, lpValueName, dwType, lpData, cbData); }));
}

extern "C" LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
  winsim::Call call("RegDeleteValueA", hKey, lpValueName);
  if (call.Faulted()) return call.Fail(static_cast<LONG>(call.FaultError()));
  return call.Return(Guarded(call, [&] { return DeleteValue(hKey, lpValueName); }));
}

extern "C" LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
  winsim::Call call("RegDeleteKeyA", hKey, lpSubKey);
  if (call.Faulted()) return call.Fail(static_cast<LONG>(call.FaultError()));
  return call.Return(Guarded(call, [&] { return DeleteKey(hKey, lpSubKey); }));
}

extern "C" LONG WINAPI RegCloseKey(HKEY hKey) {
  winsim::Call call("RegCloseKey", hKey);
  if (call.Faulted()) return call.Fail(static_cast<LONG>(call.FaultError()));
  return call.Return(Guarded(call, [&] { return CloseKey(hKey); }));
}
