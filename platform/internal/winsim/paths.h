// Windows paths on drive C: of the machine, and the current directory of this process.
#ifndef WINSIM_PATHS_H
#define WINSIM_PATHS_H

#include <windows.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace winsim {

// Windows' limit for one name in a path, in characters (a double-byte one counts once).
inline constexpr size_t kMaxNameChars = 255;

// "C:\A\B" from a name relative to the current directory, an absolute one ("\A", "C:\A") or one
// with forward slashes; "." and ".." resolved. Nullopt with `error` set (ERROR_INVALID_NAME,
// ERROR_PATH_NOT_FOUND for another drive, ERROR_FILENAME_EXCED_RANGE for a path of MAX_PATH bytes
// or more with its terminator, or a name over kMaxNameChars).
std::optional<std::string> FullWindowsPath(std::string_view name, DWORD* error);

// The host path of an existing file or folder, each part found without regard to ASCII case. Each
// part is checked on its own: a symbolic link that leads out of drive_c, and anything but a regular
// file or a folder (a FIFO, a device), count as absent.
std::optional<std::filesystem::path> FindHostPath(std::string_view full_windows_path);

// The host path under which to create `full_windows_path`: parts that exist are found without
// regard to case, the rest are taken as written. Missing folders are not created. Nullopt for a part
// that is no single host name ("..", one holding a slash).
std::optional<std::filesystem::path> HostPathForCreate(std::string_view full_windows_path);

// "C:\..." for a host path inside drive_c, else nullopt.
std::optional<std::string> WindowsPathOf(const std::filesystem::path& host);

// Bytes of the character of `text` at `at` in the machine's code page: 2 for a lead byte with its
// trail byte, else 1.
size_t CharSize(std::string_view text, size_t at);
// The parts of a full Windows path below C:\ ("C:\A\B" gives A, B). In code page 932 a double-byte
// character's trail byte may be 0x5C and is then no separator.
std::vector<std::string> PathParts(std::string_view full_windows_path);
// The folder holding it: "C:\A" for "C:\A\B", "C:\" for "C:\A" and for "C:\".
std::string ParentPath(std::string_view full_windows_path);
// The name with the ASCII letters of its single-byte characters in upper case: two names that fold
// alike name the same file.
std::string FoldFileName(std::string_view name);
// What Windows says of a name that is not there: ERROR_FILE_NOT_FOUND when its folder exists,
// else ERROR_PATH_NOT_FOUND.
DWORD NotFoundError(std::string_view full_windows_path);

// The process's current directory, a full Windows path without trailing backslash except "C:\".
std::string CurrentDirectory();
// Sets it without a check (start-up, machine switch).
void ResetCurrentDirectory(std::string full_windows_path);

}  // namespace winsim

#endif
