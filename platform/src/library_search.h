// Where LoadLibraryA finds a library file on drive C:.
#ifndef WINSIM_LIBRARY_SEARCH_H
#define WINSIM_LIBRARY_SEARCH_H

#include <windows.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace winsim {

// "NAME" -> "NAME.dll"; a name with an extension stays; a trailing dot is dropped and keeps the
// name without extension.
std::string WithDefaultExtension(std::string_view name);

// True for a name without folder or drive: it is searched for.
bool IsBareName(std::string_view name);

struct LibraryFile {
  std::string windows_path;  // as the file is named on drive C:
  std::filesystem::path host;
};

// A name with a folder is taken as it is; a bare name is looked for in the program's folder, the
// current folder, the system folder and the Windows folder, in that order. `name` already has its
// extension. Nullopt with ERROR_MOD_NOT_FOUND (or the path's own fault) in `error`.
std::optional<LibraryFile> FindLibraryFile(std::string_view name, DWORD* error);

}  // namespace winsim

#endif
