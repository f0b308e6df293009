// Resource scripts: STRINGTABLE blocks, ICON statements and LANGUAGE lines, after preprocessing.
#ifndef WINRC_RC_SCRIPT_H
#define WINRC_RC_SCRIPT_H

#include "preprocessor.h"
#include "resource.h"

#include <filesystem>
#include <string>
#include <vector>

namespace winrc {

struct CompiledScript {
  std::vector<Resource> resources;
  std::vector<std::filesystem::path> files;  // every file read (script, headers, icons)
};

// Throws CompileError naming the file and line of the first fault.
CompiledScript CompileScript(const std::filesystem::path& script, const PreprocessorSettings& settings = {});

}  // namespace winrc

#endif
