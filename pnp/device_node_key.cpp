#include "device_node_key.h"

namespace {

constexpr char kModel[] = "Model";
constexpr char kConfigFlags[] = "ConfigFlags";

}  // namespace

DeviceNodeKey::DeviceNodeKey(const char* path) {
  // An empty path would open HKEY_LOCAL_MACHINE itself: no device node is named, so none is open.
  if (!path || !*path) return;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, path, &key_) != ERROR_SUCCESS) key_ = nullptr;
}

DeviceNodeKey::~DeviceNodeKey() {
  if (key_) RegCloseKey(key_);
}

CountedString DeviceNodeKey::GetModel() const {
  CountedString model;
  if (!key_) return model;
  DWORD type = REG_NONE;
  DWORD size = 0;
  if (RegQueryValueExA(key_, kModel, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return model;
  if (type != REG_SZ || size == 0) return model;
  char* buffer = model.GetBuffer(static_cast<int>(size));
  DWORD read = size;
  if (RegQueryValueExA(key_, kModel, nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer), &read) != ERROR_SUCCESS) {
    read = 0;
  }
  // The data may lack its terminator, or be shorter than first reported: only what was read counts.
  DWORD length = 0;
  while (length < read && length < size && buffer[length] != '\0') ++length;
  model.ReleaseBuffer(static_cast<int>(length));
  return model;
}

int DeviceNodeKey::SetConfigFlags(int set) {
  if (!key_) return 0;
  LONG result;
  if (set) {
    const BYTE zero[4] = {0, 0, 0, 0};
    result = RegSetValueExA(key_, kConfigFlags, 0, REG_BINARY, zero, sizeof zero);
  } else {
    result = RegDeleteValueA(key_, kConfigFlags);
  }
  return result == ERROR_SUCCESS ? 1 : 0;
}
