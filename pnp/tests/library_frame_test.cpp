// The library's frame: export table, entry routine, string table and error box, uninstall hooks.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include <winsim/call.h>
#include <winsim/windows_table.h>

#include "library_machine.h"

namespace pnp_tests {
namespace {

using winsim::WindowsFlavour;

constexpr char kNoModelText[] = "No printer Model name in DevNode?";
constexpr char kInstallFailure[] = "Internal Failure in Kdr_Install!";

TEST(LibraryFrame, ExportsItsEntriesByNameAndOrdinal) {
  LibraryMachine machine;
  const struct {
    const char* name;
    int ordinal;
  } exports[] = {{"?CleanPnpKeys@@YAXXZ", 1},
                 {"CompletePrinterInstallation", 2},
                 {"SchedulePrinterInstallation", 3},
                 {"StartPrinterInstallation", 4},
                 {"UninstInitialize", 5},
                 {"UninstUnInitialize", 6}};
  for (const auto& row : exports) {
    SCOPED_TRACE(row.name);
    FARPROC by_name = machine.Export(row.name);
    EXPECT_NE(by_name, nullptr);
    EXPECT_EQ(GetProcAddress(machine.Library(), MAKEINTRESOURCE(row.ordinal)), by_name);
  }
  // The hook is there only under its decorated name; names match exactly.
  for (const char* name : {"CleanPnpKeys", "?CleanPnpKeys@@YGXXZ", "scheduleprinterinstallation", "DllMain"}) {
    SetLastError(0xdeadbeef);
    EXPECT_EQ(machine.Export(name), nullptr) << name;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND)) << name;
  }
  EXPECT_EQ(GetProcAddress(machine.Library(), MAKEINTRESOURCE(7)), nullptr);
}

// The entry routine as the loader calls it, found beside an export of the loaded library.
using EntryRoutine = BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID);
EntryRoutine EntryRoutineOf(const LibraryMachine& machine) {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(machine.Export("UninstInitialize")), &info)) return nullptr;
  void* object = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
  if (!object) return nullptr;
  auto entry = reinterpret_cast<EntryRoutine>(dlsym(object, "DllMain"));
  dlclose(object);
  return entry;
}

// The texts of the box that the first phase shows for a device node that doesn't exist.
std::pair<std::string, std::string> NoModelBox(const LibraryMachine& machine) {
  winsim::ClearJournal();
  machine.Schedule("Enum\\Missing C:\\Kdr");
  auto boxes = Boxes();
  if (boxes.size() != 1) return {"<" + std::to_string(boxes.size()) + " boxes>", ""};
  return {boxes[0].text.value_or("<null>"), boxes[0].caption.value_or("<null>")};
}

TEST(LibraryFrame, StringLoadsReadTheModuleNamedOnProcessAttach) {
  LibraryMachine machine;
  EntryRoutine entry = EntryRoutineOf(machine);
  ASSERT_NE(entry, nullptr);
  const std::pair<std::string, std::string> library_texts{kNoModelText, kInstallFailure};
  ASSERT_EQ(NoModelBox(machine), library_texts);

  // A module without the library's strings: this test program.
  const HINSTANCE elsewhere = GetModuleHandleA(nullptr);
  for (DWORD reason : {DLL_PROCESS_DETACH, DLL_THREAD_ATTACH, DLL_THREAD_DETACH}) {
    EXPECT_EQ(entry(elsewhere, reason, nullptr), TRUE) << reason;
    EXPECT_EQ(NoModelBox(machine), library_texts) << "reason " << reason << " changed the resource handle";
  }
  EXPECT_EQ(entry(elsewhere, DLL_PROCESS_ATTACH, nullptr), TRUE);
  EXPECT_EQ(NoModelBox(machine), std::make_pair(std::string(), std::string())) << "ids missing there read as empty";
  EXPECT_EQ(entry(machine.Library(), DLL_PROCESS_ATTACH, nullptr), TRUE);
  EXPECT_EQ(NoModelBox(machine), library_texts);
}

TEST(LibraryFrame, ErrorBoxHasOneOkButtonTheErrorIconAndTheCallersOwner) {
  LibraryMachine machine;
  const HWND owner = winsim::AddWindow("Printer Installation", true);
  machine.Schedule("Enum\\Missing", owner);
  machine.Schedule("Enum\\Missing", nullptr);
  auto boxes = Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].owner, reinterpret_cast<uintptr_t>(owner));
  EXPECT_EQ(boxes[1].owner, 0u);
  for (const auto& box : boxes) {
    EXPECT_EQ(box.type, static_cast<UINT>(MB_OK | MB_ICONERROR));
    EXPECT_EQ(box.text, kNoModelText);
    EXPECT_EQ(box.caption, kInstallFailure);
  }
}

// The host's loader sees only what the machine's loader needs; the rest stays inside the library,
// and a program's function of the same name never runs in place of the library's own.
std::set<std::string> DefinedDynamicSymbols(const std::string& file) {
  std::set<std::string> names;
  FILE* nm = ::popen(("nm -D --defined-only --format=posix '" + file + "'").c_str(), "r");
  if (!nm) return names;
  char line[1024];
  while (std::fgets(line, sizeof line, nm)) names.insert(std::string(line).substr(0, std::string(line).find(' ')));
  ::pclose(nm);
  return names;
}

TEST(LibraryFrame, KeepsItsInnerFunctionsToItself) {
  EXPECT_EQ(DefinedDynamicSymbols(testing_support::BinPath("K4471PNP.dll").string()),
            (std::set<std::string>{"DllMain", "winsim_export_table"}));

  LibraryMachine machine;
  machine.Put(testing_support::BinPath("namesake.exe"), "C:\\KIT\\NAMESAKE.EXE");
  const testing_support::RunResult run =
      testing_support::RunHost(machine.Folder(), {machine.Host("C:\\KIT\\NAMESAKE.EXE").string(), "K4471PNP"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  auto boxes = Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, kNoModelText);
  EXPECT_EQ(boxes[0].caption, kInstallFailure);
}

constexpr char kEnumerator[] = "Enum\\LPTENUM";
constexpr char kDeviceNode[] = "Enum\\LPTENUM\\QUORLK44710E4E";

struct HookCase {
  const char* name;
  WindowsFlavour os;
  bool enumerator;
  bool node;
  bool node_has_subkey;
  bool node_gone;
  const char* restart_state;
};

TEST(LibraryFrame, UninstUnInitializeRemovesTheDeviceNodeThenRequestsARestart) {
  const HookCase cases[] = {
      {"98, node with a subkey", WindowsFlavour::Win98, true, true, true, true, "requested"},
      {"98, node absent", WindowsFlavour::Win98, true, false, false, true, "requested"},
      {"98, enumerator absent", WindowsFlavour::Win98, false, false, false, true, "requested"},
      {"nt4, node without subkeys", WindowsFlavour::Nt4, true, true, false, true, "refused"},
      {"nt4, node with a subkey stays", WindowsFlavour::Nt4, true, true, true, false, "refused"},
  };
  for (const HookCase& c : cases) {
    SCOPED_TRACE(c.name);
    LibraryMachine machine(c.os);
    if (c.enumerator) WriteValue(std::string(kEnumerator) + "\\OTHERPRINTER", "Model", REG_SZ, "Other");
    if (c.node) WriteValue(kDeviceNode, "Model", REG_SZ, std::string("Kdr 4471\0", 9));
    if (c.node_has_subkey) WriteValue(std::string(kDeviceNode) + "\\LPT1", "ConfigFlags", REG_BINARY, "");
    winsim::SetTrace(true);

    auto hook = machine.ExportAs<LONG(WINAPI*)(DWORD, DWORD, DWORD)>("UninstUnInitialize");
    EXPECT_EQ(hook(0xdeadbeef, 0xdeadbeef, 0xdeadbeef), 0);

    EXPECT_EQ(KeyExists(kDeviceNode), !c.node_gone);
    EXPECT_EQ(KeyExists(std::string(kEnumerator) + "\\OTHERPRINTER"), c.enumerator);
    auto restarts = Restarts();
    ASSERT_EQ(restarts.size(), 1u);
    EXPECT_EQ(restarts[0].type, static_cast<UINT>(EWX_REBOOT));
    EXPECT_EQ(restarts[0].state, c.restart_state);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(OpenHandlesBesides(machine.Library()), std::vector<std::string>());
    // The node is gone before Windows is asked to restart.
    int64_t removal = 0, restart = 0;
    for (const winsim::TraceEntry& row : Trace()) {
      if (row.call == "RegDeleteKeyA") removal = row.id;
      if (row.call == "ExitWindowsEx") restart = row.id;
    }
    EXPECT_NE(restart, 0);
    if (c.enumerator) {
      EXPECT_LT(removal, restart);
    }
  }
}

TEST(LibraryFrame, CleanPnpKeysAloneRemovesOnlyTheDeviceNodeAndRequestsNothing) {
  LibraryMachine machine;
  WriteValue(kDeviceNode, "Model", REG_SZ, std::string("Kdr 4471\0", 9));
  WriteValue(std::string(kEnumerator) + "\\OTHERPRINTER", "Model", REG_SZ, std::string("Other\0", 6));
  auto clean = machine.ExportAs<void (*)(void)>("?CleanPnpKeys@@YAXXZ");
  clean();
  EXPECT_FALSE(KeyExists(kDeviceNode));
  const std::string after_first = RegistryText(machine);
  clean();
  EXPECT_EQ(RegistryText(machine), after_first);
  EXPECT_TRUE(KeyExists(std::string(kEnumerator) + "\\OTHERPRINTER"));
  EXPECT_TRUE(winsim::ListJournal().empty());
  EXPECT_EQ(OpenHandlesBesides(machine.Library()), std::vector<std::string>());
}

TEST(LibraryFrame, UninstInitializeAndCompletePrinterInstallationChangeNothing) {
  LibraryMachine machine;
  WriteValue(kDeviceNode, "Model", REG_SZ, std::string("Kdr 4471\0", 9));
  const std::string before = RegistryText(machine);
  auto initialize = machine.ExportAs<LONG(WINAPI*)(DWORD, DWORD, DWORD)>("UninstInitialize");
  auto complete = machine.ExportAs<void(CALLBACK*)(HWND, HINSTANCE, LPSTR, int)>("CompletePrinterInstallation");
  EXPECT_EQ(initialize(0, 0, 0), 0);
  EXPECT_EQ(initialize(0xdeadbeef, 0xffffffff, 1), 0);
  char command_line[] = "Enum\\LPTENUM\\QUORLK44710E4E C:\\Kdr";
  complete(nullptr, nullptr, command_line, SW_SHOWNORMAL);
  complete(reinterpret_cast<HWND>(0xdeadbeef), nullptr, nullptr, 0);
  EXPECT_EQ(RegistryText(machine), before);
  EXPECT_TRUE(winsim::ListJournal().empty());
}

}  // namespace
}  // namespace pnp_tests
