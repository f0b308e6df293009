// The library's entry routine: it only points the string loads at the library's own table.
#include <windows.h>

#include "module_state.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID lpvReserved) {
  if (fdwReason == DLL_PROCESS_ATTACH) SetModuleResourceHandle(hinstDLL);
  return TRUE;
}
