// The deferred command: "RunDLL32 K4471PNP," and an export call, run at once while the shell runs,
// otherwise left in the Run key for the shell's next start.
#include "shell_caption.h"

#include <cstring>

namespace {

constexpr char kDeferredCommandPrefix[] = "RunDLL32 K4471PNP,";
constexpr char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// Once the shell has been found it counts as running for the life of the library.
int g_shell_found = 0;

BOOL CALLBACK TestForShell(HWND window, LPARAM) {
  const int length = GetWindowTextLengthA(window);
  if (length == 0) return TRUE;
  CountedString caption;
  caption.ReleaseBuffer(GetWindowTextA(window, caption.GetBuffer(length), length + 1));
  // The whole caption, byte for byte: a caption that differs in case or by a blank is not the shell's.
  g_shell_found = caption.GetLength() == ShellCaption.GetLength() &&
                  std::memcmp(caption, ShellCaption, static_cast<size_t>(caption.GetLength())) == 0;
  return !g_shell_found;
}

}  // namespace

int ShellCaptionLoader::ScheduleDeferredCommand(const char* value_name, const char* export_call, int add) {
  if (!g_shell_found) EnumWindows(TestForShell, 0);
  // A start that fails (31 or less) leaves the command to the Run value, so that the shell's next
  // start still runs it.
  if (g_shell_found && add && WinExec(CountedString(kDeferredCommandPrefix) + export_call, SW_SHOWNA) > 31) return 1;
  if (!value_name || !*value_name) return 0;
  if (add && (!export_call || !*export_call)) return 0;
  // Composed before the key is opened, so that running out of memory leaves no key open.
  const CountedString command = add ? CountedString(kDeferredCommandPrefix) + export_call : CountedString();
  HKEY run = nullptr;
  if (RegCreateKeyA(HKEY_LOCAL_MACHINE, kRunKey, &run) != ERROR_SUCCESS) return 0;
  if (add) {
    const LONG stored =
        RegSetValueExA(run, value_name, 0, REG_SZ, reinterpret_cast<const BYTE*>(static_cast<const char*>(command)),
                       static_cast<DWORD>(command.GetLength()) + 1);
    RegCloseKey(run);
    return stored == ERROR_SUCCESS ? 1 : 0;
  }
  const LONG deleted = RegDeleteValueA(run, value_name);
  const LONG closed = RegCloseKey(run);
  if (deleted == ERROR_SUCCESS && closed == ERROR_SUCCESS) return 1;
  // A second phase started at once by a first phase that found the shell has no Run value to remove.
  return g_shell_found;
}
