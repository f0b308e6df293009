#include "checks.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

namespace sweep {
namespace {

constexpr char kFaultMark[] = " [fault]";
// RunDLL32's exit code when the entry let an exception out.
constexpr int kExceptionLeftEntry = 3;

// The call's name without the mark of a failure that the plan made.
std::string CallName(const winsim::TraceEntry& entry) {
  const std::string& call = entry.call;
  return call.ends_with(kFaultMark) ? call.substr(0, call.size() - sizeof kFaultMark + 1) : call;
}

// The step calls of the healthy run after the faulted call that `run` did not make (as often).
std::vector<std::string> MissedSteps(const Scenario& scenario, const MachineRun& healthy, const MachineRun& run,
                                     size_t faulted_at) {
  using Step = std::pair<std::string, std::string>;  // call, first text argument
  std::map<Step, int> made;
  const int run_pid = SweptProcess(scenario, run.trace);
  for (const winsim::TraceEntry& entry : run.trace) {
    if (entry.pid == run_pid) ++made[{CallName(entry), FirstTextArgument(entry.args)}];
  }
  std::vector<std::string> missed;
  std::map<Step, int> needed;
  const int healthy_pid = SweptProcess(scenario, healthy.trace);
  for (size_t at = 0; at < healthy.trace.size(); ++at) {
    const winsim::TraceEntry& entry = healthy.trace[at];
    if (entry.pid != healthy_pid || !scenario.step_calls.count(entry.call)) continue;
    const Step step{entry.call, FirstTextArgument(entry.args)};
    const int count = ++needed[step];
    if (at > faulted_at && made[step] < count)
      missed.push_back("a later step was not made: " + entry.call + "(" + entry.args + ")");
  }
  return missed;
}

// What every run must show: it finished, left no handle open, showed no more boxes than allowed,
// left the install lock free and lost nothing that a healthy run keeps.
std::vector<std::string> CommonProblems(const Scenario& scenario, const MachineRun& healthy, const MachineRun& run) {
  std::vector<std::string> problems;
  if (run.process.overran) problems.push_back("did not finish in time");
  if (SweptProcess(scenario, run.trace) == 0) problems.push_back("no call of " + scenario.program + " in the trace");

  const winsim::TraceEntry* faulted = FaultedCall(run);
  for (const winsim::TraceEntry& entry : run.trace) {
    if (entry.call != "<exit>") continue;
    // A handle whose closing was made to fail stays open; the program has no other way to close it.
    if (faulted && ClosesHandle(CallName(*faulted)) && entry.pid == faulted->pid &&
        entry.args.starts_with(faulted->args + ","))
      continue;
    problems.push_back(entry.program + " left a handle open: " + entry.args);
  }

  std::map<int, int> boxes;
  for (const winsim::JournalEntry& entry : run.journal) {
    if (entry.kind == "box" && ++boxes[entry.pid] == scenario.boxes + 1)
      problems.push_back(entry.program + " showed more than " + std::to_string(scenario.boxes) + " box(es)");
  }
  if (!run.lock_free) problems.push_back("the install lock is still taken");

  const std::set<std::string> allowed(healthy.losses.begin(), healthy.losses.end());
  for (const std::string& loss : run.losses) {
    bool rewritten = false;
    for (const std::string& item : scenario.rewritten) rewritten = rewritten || loss.starts_with(item);
    if (!allowed.count(loss) && !rewritten) problems.push_back("lost what a healthy run keeps: " + loss);
  }
  return problems;
}

}  // namespace

int SweptProcess(const Scenario& scenario, const std::vector<winsim::TraceEntry>& trace) {
  for (const winsim::TraceEntry& entry : trace) {
    if (entry.program == scenario.program) return entry.pid;
  }
  return 0;
}

std::vector<int> SweptProcesses(const Scenario& scenario, const std::vector<winsim::TraceEntry>& trace) {
  if (!scenario.every_process) return {SweptProcess(scenario, trace)};
  // The trace names a program as it was started: "RunDLL32.exe" is RUNDLL32.EXE.
  auto same_name = [&](const std::string& name) {
    return std::equal(name.begin(), name.end(), scenario.program.begin(), scenario.program.end(),
                      [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == std::toupper(b); });
  };
  std::vector<int> pids;
  for (const winsim::TraceEntry& entry : trace) {
    if (same_name(entry.program) && std::find(pids.begin(), pids.end(), entry.pid) == pids.end())
      pids.push_back(entry.pid);
  }
  return pids;
}

const winsim::TraceEntry* FaultedCall(const MachineRun& run) {
  for (const winsim::TraceEntry& entry : run.trace) {
    if (entry.call.ends_with(kFaultMark)) return &entry;
  }
  return nullptr;
}

std::vector<std::string> Problems(const Scenario& scenario, const MachineRun& healthy, const MachineRun& run,
                                  const PlannedFault* fault) {
  std::vector<std::string> problems = CommonProblems(scenario, healthy, run);
  if (!run.process.overran && run.process.exit_code != scenario.exit_code)
    problems.push_back("exit code " + std::to_string(run.process.exit_code) + ": " + run.process.err);
  if (fault && !FaultedCall(run)) problems.push_back("the planned fault was never reached");
  if (scenario.ending) {
    const std::string ending = scenario.ending(run);
    if (ending.empty())
      problems.push_back(
          "ended with none of: the setup program started, an error box, the second phase in the Run key");
    else if (!fault && ending != scenario.healthy_ending)
      problems.push_back("the healthy run ended with " + ending);
  }
  if (fault) {
    for (std::string& missed : MissedSteps(scenario, healthy, run, fault->at)) problems.push_back(std::move(missed));
  }
  return problems;
}

std::vector<std::string> AllocationProblems(const Scenario& scenario, const MachineRun& healthy,
                                            const MachineRun& run) {
  std::vector<std::string> problems = CommonProblems(scenario, healthy, run);
  const winsim::TraceEntry* faulted = FaultedCall(run);
  if (faulted && faulted->pid != SweptProcess(scenario, run.trace))
    problems.push_back("the failed allocation was another process's");
  const bool one_line = !run.process.err.empty() && run.process.err.find('\n') == run.process.err.size() - 1;
  if (!run.process.overran && (run.process.exit_code != kExceptionLeftEntry || !one_line))
    problems.push_back("the failure did not reach the caller: exit code " + std::to_string(run.process.exit_code) +
                       ", stderr: " + run.process.err);
  return problems;
}

}  // namespace sweep
