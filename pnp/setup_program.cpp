#include "setup_program.h"

namespace {

// A start that fails is tried again a few times at a short pace; the install lock is held meanwhile.
constexpr int kStartTries = 3;
constexpr DWORD kStartRetryPauseMs = 100;

// The last character, not the last byte: in a double-byte code page a trail byte can be 0x5C.
bool EndsInBackslash(const char* text) {
  const char* last = nullptr;
  for (const char* p = text; *p; p = CharNextA(p)) last = p;
  return last && *last == '\\';
}

}  // namespace

CountedString SetupProgramPath(const CountedString& installation_directory) {
  return installation_directory + (EndsInBackslash(installation_directory) ? "SETUP.EXE" : "\\Setup.Exe");
}

bool StartSetupProgram(const CountedString& program_path) {
  // No Windows name holds a double quote: one here would end the quoting below early and start
  // whatever program its first part names.
  if (program_path.Find('"') >= 0) return false;
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
