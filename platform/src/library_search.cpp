#include "library_search.h"

#include "module_table.h"

#include <winsim/machine.h>
#include <winsim/paths.h>

namespace fs = std::filesystem;

namespace winsim {
namespace {

std::optional<LibraryFile> Existing(const std::string& full_windows_path) {
  std::optional<fs::path> host = FindHostPath(full_windows_path);
  std::error_code ec;
  if (!host || !fs::is_regular_file(*host, ec)) return std::nullopt;
  return LibraryFile{WindowsPathOf(*host).value_or(full_windows_path), *host};
}

std::string Join(const std::string& folder, std::string_view name) {
  return folder + (!folder.empty() && folder.back() == '\\' ? "" : "\\") + std::string(name);
}

}  // namespace

std::string WithDefaultExtension(std::string_view name) {
  std::string out(name);
  std::string_view file = FileNamePart(name);
  if (!file.empty() && file.back() == '.') {
    out.pop_back();
  } else if (file.find('.') == std::string_view::npos) {
    out += ".dll";
  }
  return out;
}

bool IsBareName(std::string_view name) { return name.find_first_of("\\/:") == std::string_view::npos; }

std::optional<LibraryFile> FindLibraryFile(std::string_view name, DWORD* error) {
  *error = ERROR_MOD_NOT_FOUND;
  if (!IsBareName(name)) {
    DWORD path_error = 0;
    std::optional<std::string> full = FullWindowsPath(name, &path_error);
    if (!full) {
      if (path_error == ERROR_INVALID_NAME || path_error == ERROR_FILENAME_EXCED_RANGE) *error = path_error;
      return std::nullopt;
    }
    return Existing(*full);
  }
  std::string program = ProgramWindowsPath();
  const MachineSettings& settings = CurrentMachine().Settings();
  std::string folders[] = {
      program.rfind("C:\\", 0) == 0 ? program.substr(0, program.size() - FileNamePart(program).size()) : "",
      CurrentDirectory(), settings.system_dir, settings.windows_dir};
  for (const std::string& folder : folders) {
    if (folder.empty()) continue;
    if (std::optional<LibraryFile> found = Existing(Join(folder, name))) return found;
  }
  return std::nullopt;
}

}  // namespace winsim
