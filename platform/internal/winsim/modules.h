// The export tables of loaded modules, for tools and tests that check what a library exports.
#ifndef WINSIM_MODULES_H
#define WINSIM_MODULES_H

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace winsim {

struct ModuleExport {
  std::string name;  // empty when exported by ordinal only
  unsigned ordinal;
};

struct ModuleExports {
  std::string module_name;  // as the module records it ("K4471PNP.dll")
  std::vector<ModuleExport> entries;
};

// Nullopt when `module` is no library of this process or carries no export table.
std::optional<ModuleExports> ExportsOf(HMODULE module);

}  // namespace winsim

#endif
