// The printer's device node: a key under HKEY_LOCAL_MACHINE holding "Model", and "ConfigFlags",
// the mark that the first installation phase leaves for the second.
#ifndef K4471PNP_DEVICE_NODE_KEY_H
#define K4471PNP_DEVICE_NODE_KEY_H

#include <windows.h>

#include "counted_string.h"

class DeviceNodeKey {
 public:
  // Opens the key; one that does not open, or an empty path, counts as not open, without a word.
  explicit DeviceNodeKey(const char* path);
  ~DeviceNodeKey();
  DeviceNodeKey(const DeviceNodeKey&) = delete;
  DeviceNodeKey& operator=(const DeviceNodeKey&) = delete;

  // "Model" when it is non-empty REG_SZ data, up to its first NUL; else empty text.
  CountedString GetModel() const;
  // Non-zero `set` writes "ConfigFlags" as four zero bytes of REG_BINARY, zero deletes it.
  // 1 when the key is open and the registry agreed, else 0.
  int SetConfigFlags(int set);

 private:
  HKEY key_ = nullptr;
};

#endif
