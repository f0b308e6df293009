// The table of the machine's Win32 calls: every call that passes the choke point (winsim::Call) has
// its row here, and the trace, the fault plan and the fault sweep all read this one table.
#ifndef WINSIM_CALL_TABLE_H
#define WINSIM_CALL_TABLE_H

#include <windows.h>

#include <iterator>
#include <span>
#include <string_view>

namespace winsim {

struct CallInfo {
  const char* name;
  // False for calls that Windows never fails for valid arguments, or that have no failure to report:
  // the fault plan refuses them, since failing them would try out the plan, not the programs.
  bool can_fail;
  DWORD usual_error;  // the last error Windows most often gives when it fails the call
};

inline constexpr CallInfo kCalls[] = {
    // Kernel objects and processes
    {"CloseHandle", true, ERROR_INVALID_HANDLE},
    {"CreateEventA", true, ERROR_ACCESS_DENIED},
    {"OpenEventA", true, ERROR_ACCESS_DENIED},
    {"SetEvent", true, ERROR_INVALID_HANDLE},
    {"ResetEvent", true, ERROR_INVALID_HANDLE},
    {"WaitForSingleObject", true, ERROR_INVALID_HANDLE},
    {"Sleep", false, 0},
    {"GetTickCount", false, 0},
    {"GetCurrentProcessId", false, 0},
    {"GetCurrentThreadId", false, 0},
    {"WinExec", true, ERROR_FILE_NOT_FOUND},
    {"CreateProcessA", true, ERROR_FILE_NOT_FOUND},
    {"GetExitCodeProcess", true, ERROR_INVALID_HANDLE},
    // Memory
    {"GetProcessHeap", false, 0},
    {"HeapAlloc", true, ERROR_NOT_ENOUGH_MEMORY},
    {"HeapFree", false, 0},
    // Strings and code pages
    {"lstrcpyA", false, 0},
    {"lstrcatA", false, 0},
    {"lstrlenA", false, 0},
    {"lstrcmpA", false, 0},
    {"CharNextA", false, 0},
    {"CharPrevA", false, 0},
    // Files and folders
    {"GetCurrentDirectoryA", true, ERROR_NOT_ENOUGH_MEMORY},
    {"SetCurrentDirectoryA", true, ERROR_ACCESS_DENIED},
    {"GetSystemDirectoryA", true, ERROR_NOT_ENOUGH_MEMORY},
    {"GetWindowsDirectoryA", true, ERROR_NOT_ENOUGH_MEMORY},
    {"DeleteFileA", true, ERROR_ACCESS_DENIED},
    {"GetFileAttributesA", true, ERROR_ACCESS_DENIED},
    {"FindFirstFileA", true, ERROR_ACCESS_DENIED},
    {"FindNextFileA", true, ERROR_GEN_FAILURE},
    {"FindClose", true, ERROR_INVALID_HANDLE},
    {"_fsopen", true, ERROR_SHARING_VIOLATION},
    // Modules and resources
    {"LoadLibraryA", true, ERROR_MOD_NOT_FOUND},
    {"FreeLibrary", true, ERROR_INVALID_HANDLE},
    {"GetProcAddress", true, ERROR_PROC_NOT_FOUND},
    {"GetModuleHandleA", true, ERROR_MOD_NOT_FOUND},
    {"GetModuleFileNameA", true, ERROR_MOD_NOT_FOUND},
    {"LoadStringA", true, ERROR_RESOURCE_NAME_NOT_FOUND},
    {"FindResourceA", true, ERROR_RESOURCE_NAME_NOT_FOUND},
    {"LoadResource", true, ERROR_RESOURCE_DATA_NOT_FOUND},
    {"LockResource", true, ERROR_RESOURCE_DATA_NOT_FOUND},
    {"SizeofResource", true, ERROR_RESOURCE_DATA_NOT_FOUND},
    // Registry
    {"RegOpenKeyA", true, ERROR_ACCESS_DENIED},
    {"RegCreateKeyA", true, ERROR_ACCESS_DENIED},
    {"RegQueryValueExA", true, ERROR_ACCESS_DENIED},
    {"RegSetValueExA", true, ERROR_ACCESS_DENIED},
    {"RegDeleteValueA", true, ERROR_ACCESS_DENIED},
    {"RegDeleteKeyA", true, ERROR_ACCESS_DENIED},
    {"RegCloseKey", true, ERROR_INVALID_HANDLE},
    // Windows, messages and boxes
    {"EnumWindows", true, ERROR_NOT_ENOUGH_MEMORY},
    {"GetWindowTextLengthA", true, ERROR_INVALID_WINDOW_HANDLE},
    {"GetWindowTextA", true, ERROR_INVALID_WINDOW_HANDLE},
    {"IsWindow", true, ERROR_INVALID_WINDOW_HANDLE},
    {"PeekMessageA", true, ERROR_INVALID_WINDOW_HANDLE},
    {"TranslateMessage", false, 0},
    {"DispatchMessageA", false, 0},
    {"PostThreadMessageA", true, ERROR_INVALID_THREAD_ID},
    {"PostMessageA", true, ERROR_INVALID_WINDOW_HANDLE},
    {"MessageBoxA", true, ERROR_NOT_ENOUGH_MEMORY},
    {"ExitWindowsEx", true, ERROR_PRIVILEGE_NOT_HELD},
    // Spooler
    {"OpenPrinterA", true, ERROR_ACCESS_DENIED},
    {"DeletePrinter", true, ERROR_ACCESS_DENIED},
    {"ClosePrinter", true, ERROR_INVALID_HANDLE},
};

inline constexpr std::span<const CallInfo> AllCalls() { return kCalls; }

// The index of `name`'s row; -1 when the machine has no such call.
constexpr int CallIndex(std::string_view name) {
  for (size_t i = 0; i < std::size(kCalls); ++i)
    if (name == kCalls[i].name) return static_cast<int>(i);
  return -1;
}

// The row of `name`; null when the machine has no such call.
constexpr const CallInfo* FindCall(std::string_view name) {
  const int index = CallIndex(name);
  return index < 0 ? nullptr : &kCalls[index];
}

// A call's name as its prologue writes it: a name that the table lacks does not compile. (Found by
// index: some compilers cannot compare an address with null in a constant expression.)
class CallName {
 public:
  consteval CallName(const char* name) : index_(CallIndex(name)) {
    if (index_ < 0) throw "a call missing from the call table";
  }
  const CallInfo& Info() const { return kCalls[index_]; }

 private:
  int index_;
};

}  // namespace winsim

#endif
