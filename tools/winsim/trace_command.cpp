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

int Print(const Invocation& invocation) {
  std::vector<std::string> args = invocation.args;
  const bool clear = TakeFlag(args, "--clear");
  ExpectNoMore(args);
  if (clear)
    winsim::ClearTrace();
  else
    PrintTrace();
  return 0;
}

int On(const Invocation& invocation) {
  ExpectNoMore(invocation.args);
  winsim::SetTrace(true);
  return 0;
}

int Off(const Invocation& invocation) {
  ExpectNoMore(invocation.args);
  winsim::SetTrace(false);
  return 0;
}

const Command winsim_command_trace{"trace", "trace [--clear]   (prints the trace; --clear empties it instead)", Print};
WINSIM_COMMAND(trace);
const Command winsim_command_trace_on{"trace on", "trace on", On};
WINSIM_COMMAND(trace_on);
const Command winsim_command_trace_off{"trace off", "trace off", Off};
WINSIM_COMMAND(trace_off);

}  // namespace
}  // namespace winsim_tool
