#include "fault_plan.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace sweep {
namespace {

const std::set<std::string> kCloseCalls = {"CloseHandle", "FindClose", "RegCloseKey", "ClosePrinter"};

// The text with its numbers written as #: addresses (hexadecimal numbers of more than four digits)
// and decimal runs. Handles (short hexadecimal numbers) stay: closing another handle is another site.
std::string WithoutNumbers(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    if (text.compare(i, 2, "0x") == 0) {
      size_t end = i + 2;
      while (end < text.size() && std::isxdigit(static_cast<unsigned char>(text[end]))) ++end;
      out += end - i - 2 > 4 ? "0x#" : text.substr(i, end - i);
      i = end;
    } else if (std::isdigit(static_cast<unsigned char>(text[i]))) {
      while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
      out += '#';
    } else {
      out += text[i++];
    }
  }
  return out;
}

}  // namespace

bool ClosesHandle(const std::string& call) { return kCloseCalls.count(call) > 0; }

std::string FirstTextArgument(const std::string& args) {
  const size_t open = args.find('"');
  if (open == std::string::npos) return {};
  for (size_t i = open + 1; i < args.size(); ++i) {
    if (args[i] == '\\')
      ++i;
    else if (args[i] == '"')
      return args.substr(open, i - open + 1);
  }
  return {};
}

FaultChoice PlanFaults(const std::vector<winsim::TraceEntry>& trace, const std::vector<int>& pids,
                       const std::set<std::string>& host_calls, const std::set<std::string>& unswept) {
  FaultChoice choice;
  std::set<std::string> sites;
  for (size_t at = 0; at < trace.size(); ++at) {
    const winsim::TraceEntry& call = trace[at];
    const auto process = std::find(pids.begin(), pids.end(), call.pid);
    if (process == pids.end() || call.call == "<exit>") continue;
    ++choice.calls;
    // Every traced call has its row in the call table, which says whether Windows can fail it.
    const winsim::CallInfo* info = winsim::FindCall(call.call);
    if (!info || !info->can_fail) {
      ++choice.cannot_fail;
      continue;
    }
    if (call.call == kAllocationCall) {
      ++choice.allocations;
      continue;
    }
    if (host_calls.count(call.call)) {
      ++choice.host_calls;
      continue;
    }
    if (unswept.count(call.call)) {
      ++choice.unswept;
      continue;
    }
    if (!sites
             .insert(std::to_string(process - pids.begin()) + " " + call.call + "(" + WithoutNumbers(call.args) +
                     ") = " + WithoutNumbers(call.result))
             .second)
      continue;
    PlannedFault fault;
    fault.at = at;
    fault.shown = call.call + "(" + call.args + ")";
    fault.rule.call = call.call;
    fault.rule.match = FirstTextArgument(call.args);
    fault.rule.error = info->usual_error;
    fault.rule.times = 1;
    for (size_t before = 0; before < at; ++before) {
      if (trace[before].call == call.call && trace[before].args.find(fault.rule.match) != std::string::npos)
        ++fault.rule.skip;
    }
    choice.faults.push_back(std::move(fault));
  }
  return choice;
}

}  // namespace sweep
