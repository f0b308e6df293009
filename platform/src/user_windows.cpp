// Top-level windows as programs see them: enumeration and captions.
#include <windows.h>

#include <winsim/call.h>
#include <winsim/windows_table.h>

#include "failure.h"

#include <algorithm>
#include <cstring>

extern "C" BOOL WINAPI EnumWindows(WNDENUMPROC lpEnumFunc, LPARAM lParam) {
  winsim::Call call("EnumWindows", reinterpret_cast<const void*>(lpEnumFunc), lParam);
  if (call.Faulted()) return call.Fail(FALSE);
  if (!lpEnumFunc) return call.Fail(FALSE, ERROR_INVALID_PARAMETER);
  std::vector<winsim::WindowInfo> windows;
  try {
    // Taken whole before the first callback: windows that a callback opens or closes don't
    // change this walk.
    windows = winsim::ListWindows();
  } catch (...) {
    return call.Fail(FALSE, winsim::ErrorOfCaughtException());
  }
  for (const winsim::WindowInfo& window : windows) {
    if (!lpEnumFunc(window.hwnd, lParam)) return call.Return(FALSE);
  }
  return call.Return(TRUE);
}

extern "C" int WINAPI GetWindowTextLengthA(HWND hWnd) {
  winsim::Call call("GetWindowTextLengthA", hWnd);
  if (call.Faulted()) return call.Fail(0);
  try {
    auto window = winsim::LiveWindow(hWnd);
    if (!window) return call.Fail(0, ERROR_INVALID_WINDOW_HANDLE);
    return call.Return(static_cast<int>(window->caption.size()));
  } catch (...) {
    return call.Fail(0, winsim::ErrorOfCaughtException());
  }
}

extern "C" int WINAPI GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount) {
  winsim::Call call("GetWindowTextA", hWnd, static_cast<const void*>(lpString), nMaxCount);
  // Whatever happens, a caller with room gets a terminated string back.
  if (lpString && nMaxCount > 0) lpString[0] = '\0';
  if (call.Faulted()) return call.Fail(0);
  try {
    auto window = winsim::LiveWindow(hWnd);
    if (!window) return call.Fail(0, ERROR_INVALID_WINDOW_HANDLE);
    if (nMaxCount <= 0) return call.Return(0);
    if (!lpString) return call.Fail(0, ERROR_INVALID_PARAMETER);
    const size_t n = std::min(window->caption.size(), static_cast<size_t>(nMaxCount) - 1);
    std::memcpy(lpString, window->caption.data(), n);
    lpString[n] = '\0';
    return call.Return(static_cast<int>(n));
  } catch (...) {
    return call.Fail(0, winsim::ErrorOfCaughtException());
  }
}

extern "C" BOOL WINAPI IsWindow(HWND hWnd) {
  winsim::Call call("IsWindow", hWnd);
  if (call.Faulted()) return call.Fail(FALSE);
  try {
    return call.Return(winsim::LiveWindow(hWnd) ? TRUE : FALSE);
  } catch (...) {
    return call.Fail(FALSE, winsim::ErrorOfCaughtException());
  }
}
