// A fresh machine with K4471PNP.dll in its system folder, the stand-in setup program at hand, and
// the library loaded into this process; plus what the tests read back from the machine.
#ifndef PNP_TESTS_LIBRARY_MACHINE_H
#define PNP_TESTS_LIBRARY_MACHINE_H

#include <windows.h>

#include <winsim/call.h>
#include <winsim/journal.h>

#include <cstdint>
#include <future>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "run.h"
#include "temp_machine.h"

namespace pnp_tests {

using testing_support::TempMachine;

inline constexpr char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr char kLockName[] = "KDRInstalled";

struct RegValue {
  DWORD type;
  std::string data;
  bool operator==(const RegValue&) const = default;
};

class LibraryMachine : public TempMachine {
 public:
  explicit LibraryMachine(winsim::WindowsFlavour os = winsim::WindowsFlavour::Win98, unsigned codepage = 1252);
  ~LibraryMachine();

  HMODULE Library() const { return library_; }
  FARPROC Export(const char* name) const { return GetProcAddress(library_, name); }
  // The export as a function of its own type (through void (*)(void), which stands for any function).
  template <class F>
  F ExportAs(const char* name) const {
    return reinterpret_cast<F>(reinterpret_cast<void (*)(void)>(Export(name)));
  }

  // The phases as a caller in this process calls them; a null command line is passed as null.
  void Schedule(const char* command_line, HWND owner = nullptr) const;
  void Start(const char* command_line, HWND owner = nullptr) const;

  // A device node with "Model" as REG_SZ with its terminator.
  void AddDeviceNode(const std::string& path, const std::string& model) const;
  // The stand-in setup program as `windows_path` (a folder's "Setup.Exe", or a decoy).
  void PutSetupProgram(const std::string& windows_path) const;

 private:
  HMODULE library_ = nullptr;
};

// Programs run on the machine in the background, as `winsim run` runs them. When it goes, it lets
// every box go, held or not, so that no program is left waiting on one, and waits for them all.
class BackgroundRuns {
 public:
  explicit BackgroundRuns(const TempMachine& machine) : folder_(machine.Folder()) {}
  ~BackgroundRuns();
  BackgroundRuns(const BackgroundRuns&) = delete;
  BackgroundRuns& operator=(const BackgroundRuns&) = delete;

  // Starts the command line; the number names the run.
  size_t Start(const std::string& command_line);
  size_t FirstPhase(const std::string& installer_command_line) {
    return Start("RUNDLL32.EXE K4471PNP,SchedulePrinterInstallation " + installer_command_line);
  }
  size_t SecondPhase(const std::string& installer_command_line) {
    return Start("RUNDLL32.EXE K4471PNP,StartPrinterInstallation " + installer_command_line);
  }
  // The run's exit code once it has ended; -1 when it doesn't end within two minutes.
  int ExitCode(size_t run);

 private:
  std::filesystem::path folder_;
  std::vector<std::future<testing_support::RunResult>> runs_;
  std::vector<std::optional<int>> exit_codes_;
};

// Registry of the machine in use, through the machine's own calls.
void WriteValue(const std::string& key, const std::string& name, DWORD type, std::string_view data);
std::optional<RegValue> ReadValue(const std::string& key, const std::string& name);
bool KeyExists(const std::string& key);
inline RegValue Sz(std::string_view text) { return {REG_SZ, std::string(text) + '\0'}; }
inline const RegValue kConfigFlagsMark{REG_BINARY, std::string(4, '\0')};

// What the stand-in setup program recorded about its starts under its file name ("Setup.Exe").
struct SetupStarts {
  DWORD count = 0;
  std::string command_line;
  std::string current_directory;
};
SetupStarts StartsOf(const std::string& program_file_name);

// The whole registry as `winsim reg export` writes it.
std::string RegistryText(const TempMachine& machine);

std::vector<winsim::JournalEntry> Boxes();
std::vector<winsim::JournalEntry> Restarts();
bool LockEventExists();
// Handles of this process that are still open, less the library's module handle.
std::vector<std::string> OpenHandlesBesides(HMODULE library);
std::vector<winsim::TraceEntry> Trace();

}  // namespace pnp_tests

#endif
