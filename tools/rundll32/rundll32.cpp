// RUNDLL32.EXE library,entry arguments
//
// Loads the library, calls `void CALLBACK entry(HWND, HINSTANCE, LPSTR, int)` with a hidden window
// of its own, the library, the arguments and its show state, frees the library and ends.
// Exit codes: 0 done, 1 a command line of another shape, 2 no such library or entry, 3 the entry
// let an exception out (named on stderr).
#include <windows.h>

#include <winsim/windows_table.h>

#include "entry_command.h"

#include <cstdio>
#include <exception>
#include <string>

namespace {

using Entry = void(CALLBACK*)(HWND, HINSTANCE, LPSTR, int);

constexpr const char* kCaption = "RunDLL";
constexpr size_t kShownNameLimit = 80;

// Long names are cut in the boxes so that the text stays readable.
std::string Shown(const std::string& name) {
  return name.size() <= kShownNameLimit ? name : name.substr(0, kShownNameLimit) + "...";
}

void ErrorBox(const std::string& text) { MessageBoxA(nullptr, text.c_str(), kCaption, MB_OK | MB_ICONERROR); }

std::string LoadFailure(const std::string& library, DWORD error) {
  std::string text = "Cannot load the library \"" + Shown(library) + "\": ";
  switch (error) {
    case ERROR_MOD_NOT_FOUND:
      return text + "it was not found.";
    case ERROR_BAD_EXE_FORMAT:
      return text + "it is not a library.";
    case ERROR_DLL_INIT_FAILED:
      return text + "its start-up routine refused to run.";
    case ERROR_FILENAME_EXCED_RANGE:
      return text + "the name is too long.";
    default:
      return text + "error " + std::to_string(error) + ".";
  }
}

// The hidden window that the entry gets as its owner window, for the time of the call.
class OwnWindow {
 public:
  OwnWindow() : window_(winsim::AddWindow("", true)) {}
  ~OwnWindow() { winsim::RemoveWindow(window_); }
  OwnWindow(const OwnWindow&) = delete;
  OwnWindow& operator=(const OwnWindow&) = delete;
  HWND Handle() const { return window_; }

 private:
  HWND window_;
};

int Run(const EntryCommand& command, int show) {
  HMODULE library = LoadLibraryA(command.library.c_str());
  if (!library) {
    ErrorBox(LoadFailure(command.library, GetLastError()));
    return 2;
  }
  // Through void (*)(void), the type that stands for any function: FARPROC is only its address.
  auto entry =
      reinterpret_cast<Entry>(reinterpret_cast<void (*)(void)>(GetProcAddress(library, command.entry.c_str())));
  if (!entry) {
    ErrorBox("The library \"" + Shown(command.library) + "\" has no entry point \"" + Shown(command.entry) + "\".");
    FreeLibrary(library);
    return 2;
  }
  std::string arguments = command.arguments;  // the entry may write into its line
  OwnWindow window;
  try {
    entry(window.Handle(), library, arguments.data(), show);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "rundll32: %s,%s: %s\n", command.library.c_str(), command.entry.c_str(), e.what());
    return 3;
  } catch (...) {
    std::fprintf(stderr, "rundll32: %s,%s: an exception of unknown type\n", command.library.c_str(),
                 command.entry.c_str());
    return 3;
  }
  FreeLibrary(library);
  return 0;
}

}  // namespace

extern "C" int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR tail, int show) {
  std::optional<EntryCommand> command = ParseEntryCommand(tail);
  if (!command) {
    ErrorBox("RUNDLL32 needs a library and one of its entry points:\n  RUNDLL32 library,entry [arguments]");
    return 1;
  }
  return Run(*command, show);
}
