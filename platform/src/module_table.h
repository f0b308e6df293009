// The modules of this process: the program itself and the libraries that LoadLibraryA loaded.
#ifndef WINSIM_MODULE_TABLE_H
#define WINSIM_MODULE_TABLE_H

#include <windows.h>

#include <winsim/call.h>
#include <winsim/module_image.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace winsim {

struct Module {
  HMODULE handle = nullptr;  // the address its ELF header is mapped at
  void* library = nullptr;   // dlopen's handle; null for the program
  int references = 0;
  std::string windows_path;  // "C:\WINDOWS\SYSTEM\K4471PNP.DLL"; the program's comes from ProgramWindowsPath
  const ExportTable* exports = nullptr;
  const uint8_t* resources = nullptr;  // the module's ".rsrc" section in memory
  size_t resources_size = 0;
  bool detached = false;  // DllMain has had DLL_PROCESS_DETACH
};

// Held across a whole load or unload, DllMain included, as Windows' loader lock; re-entrant.
std::recursive_mutex& LoaderLock();

// The rest runs under LoaderLock.
Module& ProgramModule();
// The program for a null handle; null for a handle that is no module of this process.
Module* FindModule(HMODULE handle);
// A loaded library by its full Windows path, or by file name alone when `name` has no folder;
// without regard to ASCII case. The program counts too.
Module* FindModuleByName(std::string_view name);
void AddLibrary(std::unique_ptr<Module> module);
void RemoveLibrary(HMODULE handle);
// Loaded libraries, the last loaded first.
std::vector<Module*> LoadedLibraries();

// Fills a library's handle, export table and resources from what dlopen loaded from `host_file`.
void DescribeLibrary(Module& module, void* library, const std::filesystem::path& host_file);
// A symbol that the module itself defines (not one of its dependencies).
void* OwnSymbol(const Module& module, const char* name);

// The program's Windows path: WINSIM_IMAGE, else its file's place on drive C:, else its host path.
std::string ProgramWindowsPath();

// A name or a MAKEINTRESOURCE number ("#7") as the trace shows it.
Arg NameOrNumberArg(LPCSTR name);

// The file-name part of a Windows path.
std::string_view FileNamePart(std::string_view path);
bool SameNameFold(std::string_view a, std::string_view b);

}  // namespace winsim

#endif
