#include "windows_path.h"

#include "command.h"

#include <winsim/paths.h>

namespace winsim_tool {

std::string FullPathOnC(const std::string& given) {
  DWORD error = 0;
  std::optional<std::string> full = winsim::FullWindowsPath(given, &error);
  if (!full) {
    if (error == ERROR_PATH_NOT_FOUND) throw CommandError("'" + given + "' is not on drive C:");
    if (error == ERROR_FILENAME_EXCED_RANGE)
      throw CommandError("name too long: a name holds at most 255 characters, a path at most 259 bytes (" +
                         std::to_string(given.size()) + " bytes given)");
    throw CommandError("'" + given + "' is not a valid Windows path");
  }
  if (full->find_first_of("*?") != std::string::npos)
    throw CommandError("'" + given + "' holds a wildcard; name one file or folder");
  return *full;
}

}  // namespace winsim_tool
