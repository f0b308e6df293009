#include "regedit4_format.h"

#include "registry_names.h"

#include <algorithm>

namespace winsim::regedit4 {

std::string SplitRootedPath(std::string_view text, unsigned codepage, std::vector<std::string_view>* names) {
  names->clear();
  const size_t end = std::min(text.find('\\'), text.size());
  std::string_view root = text.substr(0, end);
  const bool is_root = std::equal(root.begin(), root.end(), kRoot.begin(), kRoot.end(),
                                  [](char a, char b) { return (a >= 'a' && a <= 'z' ? a - 'a' + 'A' : a) == b; });
  if (!is_root) {
    if (root.starts_with("HKEY_") || root.starts_with("hkey_"))
      return "unknown root key " + std::string(root) + " (the machine has only HKEY_LOCAL_MACHINE)";
    return "key path does not begin with HKEY_LOCAL_MACHINE";
  }
  if (end == text.size()) return {};
  reg::NameCheck check = reg::SplitKeyPath(text.substr(end + 1), codepage, names);
  if (check) check = reg::CheckDepth(names->size());
  return check ? std::string() : std::string(check.reason);
}

}  // namespace winsim::regedit4
