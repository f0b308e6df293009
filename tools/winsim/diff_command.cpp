// winsim diff: what changed on the machine since a snapshot, one line per item.
#include "command.h"
#include "machine_state.h"

#include <cstdio>

namespace winsim_tool {
namespace {

int RunDiff(const Invocation& invocation) {
  std::vector<std::string> args = invocation.args;
  if (args.size() != 1) throw UsageError("diff takes a file written by winsim snapshot");
  const MachineState before = LoadState(args[0]);
  const std::vector<std::string> lines = DiffStates(before, CaptureState());
  if (lines.empty()) std::printf("no changes\n");
  for (const std::string& line : lines) std::printf("%s\n", line.c_str());
  return 0;
}

const Command winsim_command_diff{"diff", "diff FILE   (changes since winsim snapshot FILE)", RunDiff};
WINSIM_COMMAND(diff);

}  // namespace
}  // namespace winsim_tool
