// What the loader reads from a module's file on disk: whether it is a shared object, and where
// a section of it lies once loaded.
#ifndef WINSIM_ELF_FILE_H
#define WINSIM_ELF_FILE_H

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

namespace winsim {

// An ELF shared object of this host's class: something dlopen may load.
bool IsSharedObject(const std::filesystem::path& file);

struct LoadedSection {
  uint64_t address;  // relative to the module's load bias
  uint64_t size;
};
// A section that is mapped when the module is loaded; nullopt when the file has none by that name.
std::optional<LoadedSection> FindLoadedSection(const std::filesystem::path& file, std::string_view name);

}  // namespace winsim

#endif
