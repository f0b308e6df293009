// The printer models that w9xpurge removes, one row per model selector.
#ifndef W9XPURGE_MODEL_TABLE_H
#define W9XPURGE_MODEL_TABLE_H

#include <windows.h>

struct ModelRow {
  char selector;
  LPCSTR firstPrinter;
  LPCSTR secondPrinter;
  // Driver keys under HKEY_LOCAL_MACHINE in the order of deletion (child first); null-terminated.
  const LPCSTR* driverKeys;
  LPCSTR lptDeviceKey;
  // Driver files of the system directory, in the order of deletion; null-terminated.
  const LPCSTR* driverFiles;
};

// The row of a selector '1' to '4', or null for any other byte.
const ModelRow* FindModelRow(char selector);

extern const char kStatusMonitorKey[];

#endif
