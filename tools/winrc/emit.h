// The C++ sources that winrc writes: a module's resource section and its export table.
#ifndef WINRC_EMIT_H
#define WINRC_EMIT_H

#include "module_definition.h"
#include "resource.h"

#include <cstdint>
#include <string>
#include <vector>

namespace winrc {

// One resource blob in the layout of winsim/module_image.h.
std::vector<uint8_t> PackResources(std::vector<Resource> resources);

// A source that puts `blob` into the module's ".rsrc" section.
std::string ResourceSource(const std::vector<uint8_t>& blob, const std::string& origin);

// A source that defines the module's export table over the C symbols it names.
std::string ExportSource(const ModuleDefinition& def, const std::string& origin);

}  // namespace winrc

#endif
