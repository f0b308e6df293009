// Windows paths given on winsim's command line.
#ifndef WINSIM_TOOL_WINDOWS_PATH_H
#define WINSIM_TOOL_WINDOWS_PATH_H

#include <string>

namespace winsim_tool {

// The full path on drive C: of a path given on the command line ("C:\A", "\A", "A" from C:\);
// throws CommandError naming it when it is not a usable path of drive C: or holds a wildcard.
std::string FullPathOnC(const std::string& given);

}  // namespace winsim_tool

#endif
