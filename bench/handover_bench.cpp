// The hand-over of a deferred installation while the shell runs: from the call of the first phase to
// the start of the setup program (RunDLL32 started, the second phase through the install lock, the
// setup program started). The second phase mostly finds the lock free again; when it finds it
// taken, it notices the release at once and pauses one second: that case is measured from the
// release. Beside them, their floor: one program start of the machine.
#include <benchmark/benchmark.h>

#include <windows.h>

#include <winsim/call.h>
#include <winsim/db.h>
#include <winsim/machine.h>
#include <winsim/windows_table.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include <unistd.h>

#include "run.h"
#include "temp_machine.h"

namespace {

using testing_support::BinPath;
using testing_support::TempMachine;
using EntryForm = void(CALLBACK*)(HWND, HINSTANCE, LPSTR, int);

constexpr char kStartedKey[] = "Software\\WinsimTests\\Started\\Setup.Exe";

int64_t Now() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The stand-in's record of its last start, on the host's steady clock.
std::optional<int64_t> SetupStartedAt() {
  HKEY key = nullptr;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kStartedKey, &key) != ERROR_SUCCESS) return std::nullopt;
  int64_t at = 0;
  DWORD size = sizeof at;
  LONG read = RegQueryValueExA(key, "StartedAt", nullptr, nullptr, reinterpret_cast<BYTE*>(&at), &size);
  RegCloseKey(key);
  return read == ERROR_SUCCESS ? std::optional<int64_t>(at) : std::nullopt;
}

int64_t WaitForSetupStartAfter(int64_t since) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    if (auto at = SetupStartedAt(); at && *at >= since) return *at;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  throw std::runtime_error("the setup program did not start");
}

// True once a process other than this one has waited on an event since trace row `after`.
bool AnotherProcessWaitedSince(int64_t after) {
  winsim::Stmt s(winsim::CurrentMachine().Database(),
                 "SELECT 1 FROM trace WHERE id > ? AND call = 'WaitForSingleObject' AND pid != ?");
  s.Bind(1, after).Bind(2, static_cast<int64_t>(::getpid()));
  return s.Step();
}

int64_t LastTraceRow() {
  winsim::Stmt s(winsim::CurrentMachine().Database(), "SELECT coalesce(max(id), 0) FROM trace");
  s.Step();
  return s.Int(0);
}

void WaitForLockFree() {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, "KDRInstalled");
    if (!event) return;
    CloseHandle(event);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  throw std::runtime_error("the second phase did not give the lock back");
}

struct InstallMachine {
  TempMachine machine;
  HMODULE library = nullptr;

  InstallMachine() {
    const std::string path = winsim::CurrentMachine().Settings().system_dir + "\\K4471PNP.DLL";
    machine.Put(BinPath("K4471PNP.dll"), path);
    machine.Put(BinPath("setup_standin.exe"), "C:\\Kdr\\Setup.Exe");
    HKEY node = nullptr;
    RegCreateKeyA(HKEY_LOCAL_MACHINE, "Enum\\LPTENUM\\QUORLK44710E4E\\LPT1", &node);
    RegSetValueExA(node, "Model", 0, REG_SZ, reinterpret_cast<const BYTE*>("Kdr 4471"), 9);
    RegCloseKey(node);
    winsim::AddWindow("Program Manager", false);
    library = LoadLibraryA(path.c_str());
    if (!library) throw std::runtime_error("cannot load " + path);
  }
  ~InstallMachine() { FreeLibrary(library); }
};

void BM_FirstPhaseToSetupStart(benchmark::State& state) {
  InstallMachine install;
  auto first_phase = reinterpret_cast<EntryForm>(
      reinterpret_cast<void (*)(void)>(GetProcAddress(install.library, "SchedulePrinterInstallation")));
  char command_line[] = "Enum\\LPTENUM\\QUORLK44710E4E\\LPT1 C:\\Kdr";
  for (auto _ : state) {
    const int64_t begin = Now();
    first_phase(nullptr, nullptr, command_line, SW_SHOWNORMAL);
    const int64_t started = WaitForSetupStartAfter(begin);
    state.SetIterationTime(static_cast<double>(started - begin) / 1e9);
    WaitForLockFree();
  }
}
BENCHMARK(BM_FirstPhaseToSetupStart)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(9);

// The second phase started while another phase holds the lock: from the release to the setup start.
void BM_ReleaseToSetupStart(benchmark::State& state) {
  InstallMachine install;
  winsim::SetTrace(true);
  for (auto _ : state) {
    HKEY node = nullptr;
    RegOpenKeyA(HKEY_LOCAL_MACHINE, "Enum\\LPTENUM\\QUORLK44710E4E\\LPT1", &node);
    const BYTE mark[4] = {0, 0, 0, 0};
    RegSetValueExA(node, "ConfigFlags", 0, REG_BINARY, mark, sizeof mark);
    RegCloseKey(node);
    // Held as a phase holds it.
    HANDLE lock = CreateEventA(nullptr, FALSE, FALSE, "KDRInstalled");
    const int64_t mark_row = LastTraceRow();
    WinExec("RUNDLL32.EXE K4471PNP,StartPrinterInstallation Enum\\LPTENUM\\QUORLK44710E4E\\LPT1 C:\\Kdr", SW_SHOWNA);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!AnotherProcessWaitedSince(mark_row) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const int64_t begin = Now();
    SetEvent(lock);
    CloseHandle(lock);
    const int64_t started = WaitForSetupStartAfter(begin);
    state.SetIterationTime(static_cast<double>(started - begin) / 1e9);
    WaitForLockFree();
  }
}
BENCHMARK(BM_ReleaseToSetupStart)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);

// The floor: the setup program started straight away, as the second phase starts it.
void BM_ProgramStartFloor(benchmark::State& state) {
  InstallMachine install;
  for (auto _ : state) {
    char command_line[] = "\"C:\\Kdr\\Setup.Exe\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    const int64_t begin = Now();
    if (!CreateProcessA(nullptr, command_line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
      state.SkipWithError("CreateProcessA failed");
      break;
    }
    const int64_t started = WaitForSetupStartAfter(begin);
    state.SetIterationTime(static_cast<double>(started - begin) / 1e9);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
}
BENCHMARK(BM_ProgramStartFloor)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(9);

}  // namespace

BENCHMARK_MAIN();
