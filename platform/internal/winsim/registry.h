// The registry as REGEDIT4 text, for the tools and tests: the machine's HKEY_LOCAL_MACHINE in and out.
#ifndef WINSIM_REGISTRY_H
#define WINSIM_REGISTRY_H

#include <windows.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace winsim {

// A key that does not exist, a name that REGEDIT4 cannot carry, a root other than HKEY_LOCAL_MACHINE.
class RegistryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A REGEDIT4 text that cannot be applied: the first bad line (1-based) and why.
class RegeditError : public RegistryError {
 public:
  RegeditError(int line, const std::string& reason)
      : RegistryError("line " + std::to_string(line) + ": " + reason), line_(line), reason_(reason) {}
  int Line() const { return line_; }
  const std::string& Reason() const { return reason_; }

 private:
  int line_;
  std::string reason_;
};

// Applies a REGEDIT4 text to the machine's registry in one transaction: every line of it, or,
// when a line is bad (RegeditError), none.
//   REGEDIT4
//   [HKEY_LOCAL_MACHINE\Key\Sub]            creates the key and its missing parents
//   [-HKEY_LOCAL_MACHINE\Key]               deletes the key and everything below it
//   "Name"="text" @="text"                  REG_SZ (with \" and \\), @ the default value
//   "Name"=dword:0000000a                   REG_DWORD
//   "Name"=hex:00,01  "Name"=hex(7):41,00   REG_BINARY, any type by its number in hex;
//                                           a trailing backslash continues the bytes on the next line
//   "Name"=-                                deletes the value
// Lines end in CR LF or LF; blank lines and lines starting with ';' are skipped.
void ImportRegedit4(std::string_view text);

// The whole registry, or the key named ("HKEY_LOCAL_MACHINE\Software\X") with its subkeys, as
// REGEDIT4 text with CR LF line ends: parents before children, siblings and values in name order,
// names as stored. Data that "text" or dword: would not give back byte for byte is written as hex,
// so that importing the text into an empty registry gives the same registry. Throws RegistryError.
std::string ExportRegedit4(std::optional<std::string_view> key = std::nullopt);

struct RegistryValue {
  std::string name;  // as first written; empty for the default value
  DWORD type;
  std::string data;
};
// The values of the key `path` below HKEY_LOCAL_MACHINE ("Software\X", any letter case) in the
// order they were first written; none when there is no such key.
std::vector<RegistryValue> ReadKeyValues(std::string_view path);

}  // namespace winsim

#endif
