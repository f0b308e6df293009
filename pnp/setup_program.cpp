#include "setup_program.h"

namespace {

// A start that fails is tried again a few times at a short pace; the install lock is held meanwhile.
constexpr int kStartTries = 3;
constexpr DWORD kStartRetryPauseMs = 100;

}  // namespace

CountedString SetupProgramPath(const CountedString& installation_directory) {
  const int length = installation_directory.GetLength();
  const bool ends_in_backslash = length > 0 && installation_directory[length - 1] == '\\';
  return installation_directory + (ends_in_backslash ? "SETUP.EXE" : "\\Setup.Exe");
}

bool StartSetupProgram(const CountedString& program_path) {
  // Quoted: unquoted, a blank in the directory would make the system try "C:\Program.exe" and the
  // like first, and start whatever program happens to be there.
  CountedString command = CountedString("\"") + program_path + "\"";
  STARTUPINFOA startup = {};
  // The record's size on the 32-bit system; the system reads the members it knows and never checks cb.
  startup.cb = 68;
  for (int attempt = 1;; ++attempt) {
    PROCESS_INFORMATION process = {};
    if (CreateProcessA(nullptr, command.GetBuffer(command.GetLength()), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &process)) {
      CloseHandle(process.hThread);
      CloseHandle(process.hProcess);
      return true;
    }
    if (attempt == kStartTries) return false;
    Sleep(kStartRetryPauseMs);
  }
}
