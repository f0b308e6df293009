// Who this process is on the machine, and how programs of the machine are started.
#ifndef WINSIM_PROCESS_H
#define WINSIM_PROCESS_H

#include <windows.h>

#include <filesystem>
#include <string>

namespace winsim {

// The program's file name for the trace and the journal ("w9xpurge.exe", "winsim", a test's name).
const std::string& ProgramName();
void SetProgramName(std::string name);

// Environment handed to a started program: its Windows command line, current directory, image
// path and show state. A program started from a Linux shell has none and builds its own.
inline constexpr const char* kEnvMachine = "WINSIM_MACHINE";
inline constexpr const char* kEnvCommandLine = "WINSIM_CMDLINE";
inline constexpr const char* kEnvCurrentDirectory = "WINSIM_CWD";
inline constexpr const char* kEnvImage = "WINSIM_IMAGE";
inline constexpr const char* kEnvShow = "WINSIM_SHOW";

// Identity of a live process, robust against pid reuse.
struct ProcessId {
  int pid = 0;
  unsigned long long start = 0;  // start time in clock ticks since boot
};
ProcessId SelfProcessId();
// The identity of process `pid` as it stands now; start 0 when it is gone.
ProcessId IdentifyProcess(int pid);
bool ProcessAlive(const ProcessId& id);

// A program of the machine to start, as WinExec and CreateProcessA start one.
struct StartRequest {
  std::string command_line;       // Windows command line; the program is found from it by Windows rules
  std::string application;        // CreateProcessA's application name, or empty
  std::string current_directory;  // full Windows path; empty: this process's
  int show = SW_SHOWDEFAULT;      // show state handed to the program's start-up
  bool use_show = false;          // STARTF_USESHOWWINDOW
  bool wait_later = false;        // keep it as this process's child so that WaitProgram can reap it
};
// The program file of a start request.
struct ProgramFile {
  std::string windows_path;
  std::filesystem::path host_path;
};
// Finds the program file by Windows rules: the application name as given, else the name at the
// head of the command line (quoted, or tried at each blank, shortest first; ".exe" added to a name
// without extension; a bare name searched in the starting program's folder, the current, system
// and Windows folders). ERROR_SUCCESS, or ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND,
// ERROR_ACCESS_DENIED (a folder), ERROR_BAD_FORMAT (not a runnable host file), ERROR_INVALID_NAME.
DWORD FindProgram(const StartRequest& request, ProgramFile* found);

struct StartedProgram {
  ProcessId id;
  std::string image;  // the Windows path of the program file that was started
};
// Command lines longer than this fail with ERROR_FILENAME_EXCED_RANGE, as on Windows.
inline constexpr size_t kMaxCommandLine = 32766;
// Starts the program without waiting for it. ERROR_SUCCESS, or the Windows error code
// (ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_BAD_FORMAT, ERROR_ACCESS_DENIED, ...).
// The program inherits no descriptor beyond 0 to 2. Unless wait_later, it is not this process's
// child and leaves no zombie behind.
DWORD StartProgram(const StartRequest& request, StartedProgram* started);
// Starts the program in place of this process, as a shell's exec does: it keeps this process's id
// and parent, so that whoever waits for this process waits for the program, and a signal sent to
// this process reaches it. Returns only when the program could not be started, with the error
// StartProgram would give (wait_later plays no part).
DWORD ReplaceWithProgram(const StartRequest& request);
// Waits for a program started with wait_later; its exit code (128 + signal when killed), or -1
// when it is not a child of this process.
int WaitProgram(const StartedProgram& started);

}  // namespace winsim

#endif
