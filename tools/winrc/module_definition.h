// Module-definition files (.def): the library's name and its export table.
//
//   LIBRARY K4471PNP
//   EXPORTS
//     ?CleanPnpKeys@@YAXXZ=CleanPnpKeys @1   ; exported name = the C symbol that carries it
//     SchedulePrinterInstallation @3
//     Hidden @7 NONAME                      ; by ordinal only
//
// Exports without an ordinal get the lowest free ones, in order. PRIVATE is accepted (it only
// concerns import libraries); DESCRIPTION is ignored.
#ifndef WINRC_MODULE_DEFINITION_H
#define WINRC_MODULE_DEFINITION_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace winrc {

struct Export {
  std::string name;      // as exported
  std::string internal;  // the C symbol
  uint32_t ordinal = 0;
  bool by_ordinal_only = false;
};

struct ModuleDefinition {
  std::string library;  // with ".dll" added when it has no extension; empty without LIBRARY
  std::vector<Export> exports;
};

// Throws CompileError naming `file` and the line.
ModuleDefinition ParseModuleDefinition(std::string_view text, const std::string& file);

}  // namespace winrc

#endif
