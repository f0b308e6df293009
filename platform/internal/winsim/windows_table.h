// The machine's top-level windows, for the layer's own programs (RunDLL32's window, the shell's
// desktop window, winsim window add).
#ifndef WINSIM_WINDOWS_TABLE_H
#define WINSIM_WINDOWS_TABLE_H

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace winsim {

// A window owned by this process (and the calling thread) goes when the process ends; one owned
// by the machine stays until it is removed.
HWND AddWindow(std::string_view caption, bool owned_by_process);
// A window with this caption, unless a live one is there already: null then. The check and the add
// are one step, so that of racing callers exactly one adds it.
HWND AddWindowOnce(std::string_view caption, bool owned_by_process);
// A window of this process becomes the machine's: it stays when the process ends.
bool GiveWindowToMachine(HWND window);
bool RemoveWindow(HWND window);
// Removes every machine-owned window with exactly this caption; how many went.
int RemoveWindowsByCaption(std::string_view caption);

struct WindowInfo {
  HWND hwnd;
  std::string caption;
  int pid;       // 0: the machine's
  DWORD thread;  // the owning process's thread that created it; 0 for the machine's
};
// Live top-level windows, newest first (windows of ended processes are dropped on the way).
std::vector<WindowInfo> ListWindows();
// One live window; nullopt when there is no such window or its process has ended.
std::optional<WindowInfo> LiveWindow(HWND window);

}  // namespace winsim

#endif
