// The hooks of an uninstall program, and the installation export that has nothing left to do.
#include "exports.h"

namespace {

constexpr char kEnumerator[] = "Enum\\LPTENUM";
// The one device node the hooks remove, whatever printer the installation handled.
constexpr char kDeviceId[] = "QUORLK44710E4E";

}  // namespace

extern "C" void CleanPnpKeys(void) {
  HKEY enumerator = nullptr;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kEnumerator, &enumerator) != ERROR_SUCCESS) return;
  RegDeleteKeyA(enumerator, kDeviceId);
  RegCloseKey(enumerator);
}

extern "C" LONG WINAPI UninstInitialize(DWORD dwFirst, DWORD dwSecond, DWORD dwThird) { return 0; }

extern "C" LONG WINAPI UninstUnInitialize(DWORD dwFirst, DWORD dwSecond, DWORD dwThird) {
  CleanPnpKeys();
  // A restart that lets applications close; refused without the shutdown privilege, which is not asked for.
  ExitWindowsEx(EWX_REBOOT, 0);
  return 0;
}

extern "C" void CALLBACK CompletePrinterInstallation(HWND hwnd, HINSTANCE hinst, LPSTR lpszCmdLine, int nCmdShow) {}
