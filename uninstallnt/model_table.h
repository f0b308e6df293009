// The printer models that ntpurge removes, one row per model selector.
#ifndef NTPURGE_MODEL_TABLE_H
#define NTPURGE_MODEL_TABLE_H

#include <windows.h>

struct NtModelRow {
  char selector;
  LPCSTR firstPrinter;
  LPCSTR secondPrinter;  // null: the row has one printer
  // The driver keys under HKEY_LOCAL_MACHINE, child first: NT deletes only keys without subkeys.
  LPCSTR driverKeys[3];
};

// The row of a selector '1' to '4', or null for any other byte.
const NtModelRow* FindNtModelRow(char selector);

#endif
