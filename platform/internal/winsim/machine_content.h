// What a machine holds, read at one moment, for winsim's snapshot and diff: the registry's keys and
// values as stored, the printers and the live top-level windows.
#ifndef WINSIM_MACHINE_CONTENT_H
#define WINSIM_MACHINE_CONTENT_H

#include <windows.h>
#include <winsim/printers.h>

#include <cstdint>
#include <string>
#include <vector>

namespace winsim {

struct KeyRecord {
  int64_t id;
  int64_t parent;           // 0 for the root, HKEY_LOCAL_MACHINE itself
  std::string name;         // as first written
  std::string folded_path;  // the key's identity: its path below the root, letter case folded
};

struct ValueRecord {
  int64_t key;              // a KeyRecord's id
  std::string name;         // as first written; empty for the default value
  std::string folded_name;  // the value's identity within its key
  DWORD type;
  std::vector<unsigned char> data;
};

struct MachineContent {
  std::vector<KeyRecord> keys;  // the root included
  std::vector<ValueRecord> values;
  std::vector<PrinterInfo> printers;
  std::vector<std::string> window_captions;  // live windows, oldest first
};

MachineContent ReadMachineContent();

}  // namespace winsim

#endif
