// Who this process is on the machine, and how programs of the machine are started.
#ifndef WINSIM_PROCESS_H
#define WINSIM_PROCESS_H

#include <windows.h>

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
bool ProcessAlive(const ProcessId& id);

}  // namespace winsim

#endif
