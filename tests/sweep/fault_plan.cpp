#include "fault_plan.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

namespace sweep {
namespace {

// Windows never fails these for the valid arguments the programs pass, or they have no failure to
// report: failing them would try out the fault plan, not the programs.
const std::set<std::string> kCannotFail = {"CharNextA",        "lstrcpyA",         "lstrcatA", "lstrlenA",
                                           "lstrcmpA",         "GetProcessHeap",   "HeapFree", "GetCurrentThreadId",
                                           "TranslateMessage", "DispatchMessageA", "Sleep"};

// A plausible error for each call; any other gets ERROR_GEN_FAILURE.
const std::map<std::string, DWORD> kErrors = {
    {"RegOpenKeyA", ERROR_ACCESS_DENIED},
    {"RegCreateKeyA", ERROR_ACCESS_DENIED},
    {"RegQueryValueExA", ERROR_ACCESS_DENIED},
    {"RegSetValueExA", ERROR_ACCESS_DENIED},
    {"RegDeleteValueA", ERROR_ACCESS_DENIED},
    {"RegDeleteKeyA", ERROR_ACCESS_DENIED},
    {"RegCloseKey", ERROR_INVALID_HANDLE},
    {"GetCurrentDirectoryA", ERROR_NOT_ENOUGH_MEMORY},
    {"SetCurrentDirectoryA", ERROR_ACCESS_DENIED},
    {"GetSystemDirectoryA", ERROR_NOT_ENOUGH_MEMORY},
    {"GetWindowsDirectoryA", ERROR_NOT_ENOUGH_MEMORY},
    {"DeleteFileA", ERROR_ACCESS_DENIED},
    {"FindFirstFileA", ERROR_ACCESS_DENIED},
    {"FindClose", ERROR_INVALID_HANDLE},
    {"_fsopen", ERROR_SHARING_VIOLATION},
    {"OpenPrinterA", ERROR_ACCESS_DENIED},
    {"DeletePrinter", ERROR_ACCESS_DENIED},
    {"ClosePrinter", ERROR_INVALID_HANDLE},
    {"WinExec", ERROR_FILE_NOT_FOUND},
    {"CreateProcessA", ERROR_FILE_NOT_FOUND},
    {"OpenEventA", ERROR_ACCESS_DENIED},
    {"CreateEventA", ERROR_ACCESS_DENIED},
    {"WaitForSingleObject", ERROR_INVALID_HANDLE},
    {"SetEvent", ERROR_INVALID_HANDLE},
    {"CloseHandle", ERROR_INVALID_HANDLE},
    {"GetProcessHeap", ERROR_NOT_ENOUGH_MEMORY},
    {"HeapAlloc", ERROR_NOT_ENOUGH_MEMORY},
    {"HeapFree", ERROR_INVALID_PARAMETER},
    {"LoadStringA", ERROR_RESOURCE_NAME_NOT_FOUND},
    {"MessageBoxA", ERROR_NOT_ENOUGH_MEMORY},
    {"EnumWindows", ERROR_NOT_ENOUGH_MEMORY},
    {"GetWindowTextLengthA", ERROR_INVALID_WINDOW_HANDLE},
    {"GetWindowTextA", ERROR_INVALID_WINDOW_HANDLE},
    {"ExitWindowsEx", ERROR_PRIVILEGE_NOT_HELD},
    {"GetModuleHandleA", ERROR_MOD_NOT_FOUND},
    {"LoadLibraryA", ERROR_MOD_NOT_FOUND},
    {"GetProcAddress", ERROR_PROC_NOT_FOUND},
};

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

DWORD PlausibleError(const std::string& call) {
  auto it = kErrors.find(call);
  return it == kErrors.end() ? ERROR_GEN_FAILURE : it->second;
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
    if (kCannotFail.count(call.call)) {
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
    fault.rule.error = PlausibleError(call.call);
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
