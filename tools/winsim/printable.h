// Text from the machine shown on one line: names and captions may hold any byte.
#ifndef WINSIM_TOOL_PRINTABLE_H
#define WINSIM_TOOL_PRINTABLE_H

#include <string>
#include <string_view>

namespace winsim_tool {

// Control bytes (tab and line feed among them) shown as \xNN, so that every item stays on one line
// and tab-separated output keeps its columns.
std::string Printable(std::string_view text);

// True when `text` holds a control byte.
bool HasControlBytes(std::string_view text);

}  // namespace winsim_tool

#endif
