// winsim fault: the machine's fault plan, which makes chosen calls fail.
#include "command.h"

#include <winsim/call.h>

#include <charconv>
#include <cstdio>

namespace winsim_tool {
namespace {

// A whole word as a number: decimal, or hexadecimal after 0x.
long long Number(const std::string& option, const std::string& text, long long low, long long high) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const char* first = text.data() + (hex ? 2 : 0);
  const char* last = text.data() + text.size();
  long long value = 0;
  auto [end, ec] = std::from_chars(first, last, value, hex ? 16 : 10);
  if (text.empty() || ec != std::errc() || end != last || value < low || value > high)
    throw UsageError(option + " takes a number from " + std::to_string(low) + " to " + std::to_string(high) +
                     ", not '" + text + "'");
  return value;
}

int Add(const Invocation& invocation) {
  std::vector<std::string> args = invocation.args;
  winsim::FaultRule rule;
  rule.match = TakeOption(args, "--match");
  const std::string error = TakeOption(args, "--error");
  const std::string times = TakeOption(args, "--times");
  const std::string skip = TakeOption(args, "--skip");
  if (args.empty()) throw UsageError("fault add needs the name of a call");
  rule.call = args.front();
  args.erase(args.begin());
  ExpectNoMore(args);
  const winsim::CallInfo* info = winsim::FindCall(rule.call);
  if (!error.empty())
    rule.error = static_cast<DWORD>(Number("--error", error, 0, 0xFFFFFFFFLL));
  else if (info)
    rule.error = info->usual_error;
  if (!times.empty()) rule.times = static_cast<int>(Number("--times", times, 1, 1000000000));
  if (!skip.empty()) rule.skip = static_cast<int>(Number("--skip", skip, 0, 1000000000));
  try {
    winsim::AddFault(rule);
  } catch (const winsim::FaultPlanError& e) {
    throw UsageError(e.what());  // a name that no call of the plan has is a bad word
  }
  return 0;
}

int List(const Invocation& invocation) {
  ExpectNoMore(invocation.args);
  const std::vector<winsim::FaultRule> rules = winsim::ListFaults();
  if (rules.empty()) std::printf("no faults\n");
  for (const winsim::FaultRule& r : rules) {
    std::string line = r.call;
    if (!r.match.empty()) line += " --match \"" + r.match + "\"";
    line += " --error " + std::to_string(r.error);
    line += r.times < 0 ? " (every call)" : r.times == 0 ? " (used up)" : " --times " + std::to_string(r.times);
    if (r.skip > 0) line += " --skip " + std::to_string(r.skip);
    std::printf("%s\n", line.c_str());
  }
  return 0;
}

int Clear(const Invocation& invocation) {
  ExpectNoMore(invocation.args);
  winsim::ClearFaults();
  return 0;
}

const Command winsim_command_fault_add{"fault add",
                                       "fault add CALL [--match TEXT] [--error CODE] [--times N] [--skip K]", Add};
WINSIM_COMMAND(fault_add);
const Command winsim_command_fault_clear{"fault clear", "fault clear", Clear};
WINSIM_COMMAND(fault_clear);
const Command winsim_command_fault_list{"fault list", "fault list", List};
WINSIM_COMMAND(fault_list);

}  // namespace
}  // namespace winsim_tool
