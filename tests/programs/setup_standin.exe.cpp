// Stands in for a printer's setup program. Each start is recorded in the machine's registry under
// HKLM\Software\WinsimTests\Started\<its file name>: "Count" (REG_DWORD), and the last start's
// "CommandLine", "CurrentDirectory" and "StartedAt" (the host's steady clock in nanoseconds, 8 bytes).
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

void SetText(HKEY key, const char* name, const char* text) {
  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), static_cast<DWORD>(std::strlen(text)) + 1);
}

}  // namespace

extern "C" int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd) {
  const int64_t started_at =
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
  char image[MAX_PATH] = "";
  GetModuleFileNameA(nullptr, image, sizeof image);
  const char* file_name = std::strrchr(image, '\\') ? std::strrchr(image, '\\') + 1 : image;
  HKEY key = nullptr;
  if (RegCreateKeyA(HKEY_LOCAL_MACHINE, (std::string("Software\\WinsimTests\\Started\\") + file_name).c_str(), &key) !=
      ERROR_SUCCESS) {
    return 1;
  }
  DWORD count = 0;
  DWORD size = sizeof count;
  RegQueryValueExA(key, "Count", nullptr, nullptr, reinterpret_cast<BYTE*>(&count), &size);
  ++count;
  SetText(key, "CommandLine", GetCommandLineA());
  char directory[MAX_PATH] = "";
  GetCurrentDirectoryA(sizeof directory, directory);
  SetText(key, "CurrentDirectory", directory);
  RegSetValueExA(key, "StartedAt", 0, REG_BINARY, reinterpret_cast<const BYTE*>(&started_at), sizeof started_at);
  // The count last: a reader that waits for it then finds the whole record of this start.
  RegSetValueExA(key, "Count", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count), sizeof count);
  RegCloseKey(key);
  return 0;
}
