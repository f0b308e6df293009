// REGEDIT4 import over arbitrary text, on a registry that holds a little: a text is either refused
// with the registry left as it was, or applied; what was applied exports to a text that, imported
// into an empty registry, exports again byte for byte the same.
#include <windows.h>
#include <winsim/machine.h>
#include <winsim/machine_content.h>
#include <winsim/registry.h>

#include <cstdint>
#include <string>

#include "fuzz_machine.h"

namespace {

constexpr char kSeed[] =
    "REGEDIT4\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE]\r\n"
    "\"Root\"=dword:00000001\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n"
    "\"Quorl K4471 PCL\"=\"RunDLL32 K4471PNP,StartPrinterInstallation Enum\\\\LPTENUM\\\\Q C:\\\\KIT\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\LPTENUM\\QUORLK44710E4E\\0000]\r\n"
    "\"Model\"=\"Quorl K4471 PCL\"\r\n"
    "\"ConfigFlags\"=hex:00,00,00,00\r\n"
    "@=hex(2):25,57,49,4e,44,49,52,25,00\r\n";

// Through the calls a program has: on Windows 98 a key goes with all its subkeys.
void EmptyRegistry() {
  const winsim::MachineContent content = winsim::ReadMachineContent();
  int64_t root = 0;
  for (const winsim::KeyRecord& key : content.keys)
    if (key.parent == 0) root = key.id;
  for (const winsim::KeyRecord& key : content.keys)
    if (key.parent == root && key.id != root) RegDeleteKeyA(HKEY_LOCAL_MACHINE, key.name.c_str());
  for (const winsim::ValueRecord& value : content.values)
    if (value.key == root) RegDeleteValueA(HKEY_LOCAL_MACHINE, value.name.c_str());
}

const std::string& SeedExport() {
  static const std::string text = [] {
    EmptyRegistry();
    winsim::ImportRegedit4(kSeed);
    return winsim::ExportRegedit4();
  }();
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzMachine();
  const std::string& seeded = SeedExport();
  EmptyRegistry();
  winsim::ImportRegedit4(kSeed);

  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    winsim::ImportRegedit4(text);
  } catch (const winsim::RegeditError&) {
    FUZZ_CHECK(winsim::ExportRegedit4() == seeded);
    return 0;
  }
  const std::string exported = winsim::ExportRegedit4();
  EmptyRegistry();
  winsim::ImportRegedit4(exported);
  FUZZ_CHECK(winsim::ExportRegedit4() == exported);
  return 0;
}
