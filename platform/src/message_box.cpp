// Message boxes and restart requests: the machine has no screen, so both go into its journal,
// where winsim and the tests read them.
#include <windows.h>

#include <winsim/call.h>
#include <winsim/journal.h>
#include <winsim/machine.h>

#include "failure.h"

#include <chrono>
#include <thread>

extern "C" int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
  winsim::Call call("MessageBoxA", hWnd, lpText, lpCaption, winsim::Arg::Hex(uType));
  if (call.Faulted()) return call.Fail(0);
  try {
    const int64_t box = winsim::RecordBox(hWnd, lpCaption ? lpCaption : "Error", lpText, uType);
    // A held box is modal: the caller stays here until someone closes it.
    while (winsim::BoxOpen(box)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return call.Return(IDOK);
  } catch (...) {
    return call.Fail(0, winsim::ErrorOfCaughtException());
  }
}

extern "C" BOOL WINAPI ExitWindowsEx(UINT uFlags, DWORD dwReserved) {
  winsim::Call call("ExitWindowsEx", winsim::Arg::Hex(uFlags), dwReserved);
  if (call.Faulted()) return call.Fail(FALSE);
  try {
    // No process of the machine enables the shutdown privilege, which NT wants for anything
    // beyond logging off.
    const bool refused = winsim::CurrentMachine().Settings().os == winsim::WindowsFlavour::Nt4 &&
                         (uFlags & (EWX_SHUTDOWN | EWX_REBOOT | EWX_POWEROFF)) != 0;
    winsim::RecordRestart(uFlags, refused);
    if (refused) return call.Fail(FALSE, ERROR_PRIVILEGE_NOT_HELD);
    return call.Return(TRUE);
  } catch (...) {
    return call.Fail(FALSE, winsim::ErrorOfCaughtException());
  }
}
