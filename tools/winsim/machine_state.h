// What a machine holds, for winsim snapshot and diff: registry keys and values, the folders and files of
// drive C:, printers and top-level windows.
#ifndef WINSIM_TOOL_MACHINE_STATE_H
#define WINSIM_TOOL_MACHINE_STATE_H

#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace winsim_tool {

struct StateItem {
  std::string name;     // as shown: HKLM\Software\X, C:\WINDOWS\A.INF, a printer's name
  std::string content;  // compared to tell a change
  std::string detail;   // the content as shown, may be empty
};
// Keyed by kind ("1 key", "2 value", ...: kinds sort in the order they are shown) and the identity of
// the item within its kind.
using MachineState = std::map<std::pair<std::string, std::string>, StateItem>;

MachineState CaptureState();
// Throws CommandError when the file can't be written or read, or is no snapshot.
void SaveState(const MachineState& state, const std::filesystem::path& file);
MachineState LoadState(const std::filesystem::path& file);
// "+ KIND NAME", "- KIND NAME", "~ KIND NAME: BEFORE -> AFTER", in kind and identity order.
std::vector<std::string> DiffStates(const MachineState& before, const MachineState& after);

}  // namespace winsim_tool

#endif
