// A program with a function of its own named as one inside K4471PNP.dll, which must not take the
// library's place: it loads the library named by its command tail and runs the first phase for a
// device node that does not exist, which the library reports through its own error box.
#include <windows.h>

// The library's inner function, by name and signature; the box it shows is the program's own.
void ErrorBox(HWND owner, UINT, UINT) { MessageBoxA(owner, "the program's own ErrorBox", "namesake", MB_OK); }

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR lpCmdLine, int) {
  HMODULE library = LoadLibraryA(lpCmdLine);
  if (!library) return 2;
  using EntryForm = void(CALLBACK*)(HWND, HINSTANCE, LPSTR, int);
  auto schedule = reinterpret_cast<EntryForm>(
      reinterpret_cast<void (*)(void)>(GetProcAddress(library, "SchedulePrinterInstallation")));
  if (!schedule) return 3;
  char installer_line[] = "Enum\\Missing C:\\Kdr";
  schedule(nullptr, nullptr, installer_line, SW_SHOWNORMAL);
  FreeLibrary(library);
  return 0;
}
