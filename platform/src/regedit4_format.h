// What the REGEDIT4 reader and writer share: the header, the root's name, and key paths.
#ifndef WINSIM_REGEDIT4_FORMAT_H
#define WINSIM_REGEDIT4_FORMAT_H

#include <string>
#include <string_view>
#include <vector>

namespace winsim::regedit4 {

inline constexpr std::string_view kHeader = "REGEDIT4";
inline constexpr std::string_view kRoot = "HKEY_LOCAL_MACHINE";

// Splits "HKEY_LOCAL_MACHINE\A\B" into A and B (the root alone gives none). Empty on success,
// else the reason for people.
std::string SplitRootedPath(std::string_view text, unsigned codepage, std::vector<std::string_view>* names);

}  // namespace winsim::regedit4

#endif
