// winsim trace: switches the machine's call trace and prints it.
#include "command.h"

#include <winsim/call.h>

#include <cstdio>

namespace winsim_tool {
namespace {

void PrintTrace() {
  winsim::ForEachTraceEntry([](const winsim::TraceEntry& e) {
    std::string line = std::to_string(e.pid) + " " + e.program + " " + e.call + "(" + e.args + ")";
    if (!e.result.empty()) line += " = " + e.result;
    if (e.error != 0) line += " [error " + std::to_string(e.error) + "]";
    std::printf("%s\n", line.c_str());
  });
}

int RunTrace(const Invocation& invocation) {
  std::vector<std::string> args = invocation.args;
  const bool clear = TakeFlag(args, "--clear");
  if (!clear && args.size() == 1 && (args[0] == "on" || args[0] == "off")) {
    winsim::SetTrace(args[0] == "on");
    return 0;
  }
  ExpectNoMore(args);
  if (clear)
    winsim::ClearTrace();
  else
    PrintTrace();
  return 0;
}

const Command winsim_command_trace{"trace",
                                   "trace on|off\n"
                                   "trace [--clear]   (prints the trace; --clear empties it instead)",
                                   RunTrace};
WINSIM_COMMAND(trace);

}  // namespace
}  // namespace winsim_tool
