// Stands in for a printer installation that installs several printers in one process: loads
// K4471PNP and calls its first installation phase N times with the same installer command line.
//   phase_runner.exe N INSTALLER COMMAND LINE
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd) {
  HMODULE library = LoadLibraryA("K4471PNP");
  if (!library) return 2;
  using EntryForm = void(CALLBACK*)(HWND, HINSTANCE, LPSTR, int);
  auto phase = reinterpret_cast<EntryForm>(
      reinterpret_cast<void (*)(void)>(GetProcAddress(library, "SchedulePrinterInstallation")));
  if (!phase) return 3;
  const int times = std::atoi(lpCmdLine);
  const char* blank = std::strchr(lpCmdLine, ' ');
  std::string command_line = blank ? blank + 1 : "";
  for (int i = 0; i < times; ++i) phase(nullptr, nullptr, command_line.data(), nShowCmd);
  FreeLibrary(library);
  return 0;
}
