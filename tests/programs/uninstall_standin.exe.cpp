// Stands in for an uninstall program: loads K4471PNP, calls UninstInitialize and later
// UninstUnInitialize, and frees it. Exit code 0 when both hooks answered 0.
#include <windows.h>

extern "C" int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd) {
  HMODULE library = LoadLibraryA("K4471PNP");
  if (!library) return 2;
  using Hook = LONG(WINAPI*)(DWORD, DWORD, DWORD);
  auto initialize =
      reinterpret_cast<Hook>(reinterpret_cast<void (*)(void)>(GetProcAddress(library, "UninstInitialize")));
  auto uninitialize =
      reinterpret_cast<Hook>(reinterpret_cast<void (*)(void)>(GetProcAddress(library, "UninstUnInitialize")));
  if (!initialize || !uninitialize) return 3;
  const LONG answers = initialize(0, 0, 0) | uninitialize(0, 0, 0);
  FreeLibrary(library);
  return answers == 0 ? 0 : 1;
}
