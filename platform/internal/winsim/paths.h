// Windows paths on drive C: of the machine, and the current directory of this process.
#ifndef WINSIM_PATHS_H
#define WINSIM_PATHS_H

#include <windows.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace winsim {

// "C:\A\B" from a name relative to the current directory, an absolute one ("\A", "C:\A") or one
// with forward slashes; "." and ".." resolved. Nullopt with `error` set (ERROR_INVALID_NAME,
// ERROR_PATH_NOT_FOUND for another drive, ERROR_FILENAME_EXCED_RANGE beyond MAX_PATH).
std::optional<std::string> FullWindowsPath(std::string_view name, DWORD* error);

// The host path of an existing file or folder, each part found without regard to ASCII case.
std::optional<std::filesystem::path> FindHostPath(std::string_view full_windows_path);

// The host path under which to create `full_windows_path`: parts that exist are found without
// regard to case, the rest are taken as written. Missing folders are not created.
std::filesystem::path HostPathForCreate(std::string_view full_windows_path);

// "C:\..." for a host path inside drive_c, else nullopt.
std::optional<std::string> WindowsPathOf(const std::filesystem::path& host);

// The process's current directory, a full Windows path without trailing backslash except "C:\".
std::string CurrentDirectory();
// Sets it without a check (start-up, machine switch).
void ResetCurrentDirectory(std::string full_windows_path);

}  // namespace winsim

#endif
