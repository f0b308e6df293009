// The rules of registry key and value names: limits, separators, and the case-blind form that
// the database indexes. Byte strings in the machine's ANSI code page throughout.
#ifndef WINSIM_REGISTRY_NAMES_H
#define WINSIM_REGISTRY_NAMES_H

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

namespace winsim::reg {

// Windows' limit for one key name and for a value name, in characters (a double-byte one counts once).
inline constexpr size_t kMaxNameChars = 255;

// Windows' limit for the depth of a key: names on its path below HKEY_LOCAL_MACHINE. Besides being
// Windows' own rule, it bounds what a deep path costs, since each key keeps its whole path.
inline constexpr size_t kMaxDepth = 512;

// ERROR_SUCCESS, or the Windows code with a reason for people (REGEDIT4 error lines).
struct NameCheck {
  DWORD error = ERROR_SUCCESS;
  const char* reason = "";
  explicit operator bool() const { return error == ERROR_SUCCESS; }
};

// Splits "A\B\C" into its key names. Empty gives none (the key itself); one trailing backslash is
// allowed. A leading backslash is ERROR_BAD_PATHNAME, and so (assumed) is an empty name inside; a
// name over the limit or ending inside a double-byte character is ERROR_INVALID_PARAMETER (assumed).
NameCheck SplitKeyPath(std::string_view path, unsigned codepage, std::vector<std::string_view>* names);

// A key `depth` levels below HKEY_LOCAL_MACHINE within the limit; ERROR_INVALID_PARAMETER (assumed)
// beyond it.
NameCheck CheckDepth(size_t depth);

// A value name (empty: the default value) within the limits.
NameCheck CheckValueName(std::string_view name, unsigned codepage);

// ASCII letters folded to lower case; trail bytes of double-byte characters stay as they are.
void AppendFolded(std::string& out, std::string_view name, unsigned codepage);
std::string Folded(std::string_view name, unsigned codepage);

// The folded path of `name` below the key whose folded path is `parent`.
std::string ChildPath(std::string_view parent, std::string_view name, unsigned codepage);

// The folded path of the keys `names` below the key whose folded path is `parent`.
std::string JoinedPath(std::string_view parent, const std::vector<std::string_view>& names, unsigned codepage);

// True when the text ends with a lead byte that has no trail byte.
bool EndsInsideCharacter(std::string_view text, unsigned codepage);

}  // namespace winsim::reg

#endif
