// winsim snapshot: saves what the machine holds, for a later winsim diff.
#include "command.h"
#include "machine_state.h"

#include <cstdio>

namespace winsim_tool {
namespace {

int RunSnapshot(const Invocation& invocation) {
  std::vector<std::string> args = invocation.args;
  if (args.size() != 1) throw UsageError("snapshot takes the file to write");
  const MachineState state = CaptureState();
  SaveState(state, args[0]);
  std::printf("%zu items saved to %s\n", state.size(), args[0].c_str());
  return 0;
}

const Command winsim_command_snapshot{"snapshot", "snapshot FILE", RunSnapshot};
WINSIM_COMMAND(snapshot);

}  // namespace
}  // namespace winsim_tool
