// fault_sweep: runs each scenario once healthy, then once for each call site of the swept program
// with exactly that call failing, each run on a fresh copy of the same machine, and checks that every
// faulted run held: it finished, exited as it should, still made every later step, showed no more
// boxes than allowed, left no handle open and the install lock free, and removed or changed nothing
// that the healthy run keeps; a whole installation must end with the setup program started, an error
// box, or the second phase in the Run key for the shell's next start. Then the allocation sweep: each phase of the
// library with its k-th allocation failing, k = 1, 2, ..., until a run makes no k-th allocation; the failure must reach
// RunDLL32 (exit code 3, one line on stderr) with the lock given back and no handle left open.
//
//   fault_sweep [--verbose] [NAME...]   (NAME: run only the scenarios whose name holds it)
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "checks.h"
#include "fault_plan.h"
#include "scenario.h"
#include "sweep_machine.h"

namespace {

using namespace sweep;

constexpr std::chrono::seconds kBound(30);
constexpr int kHealthyAttempts = 3;
// Far more than a phase makes: a sweep that gets there has found a run that never ends its allocations.
constexpr int kMaxAllocations = 1000;

std::string Slug(const std::string& name) {
  std::string slug;
  for (char c : name) slug += std::isalnum(static_cast<unsigned char>(c)) ? c : '-';
  return slug;
}

void Report(const std::string& what, const std::vector<std::string>& problems) {
  std::printf("  NOT HELD: %s\n", what.c_str());
  for (const std::string& problem : problems) std::printf("    %s\n", problem.c_str());
}

// Whether a swept process waited for the install lock.
bool Waited(const Scenario& scenario, const MachineRun& run) {
  const std::vector<int> pids = SweptProcesses(scenario, run.trace);
  for (const winsim::TraceEntry& entry : run.trace) {
    if (entry.call == "WaitForSingleObject" && std::find(pids.begin(), pids.end(), entry.pid) != pids.end())
      return true;
  }
  return false;
}

// The scenario's machine, sealed, and its healthy run, which must hold as well; null when it did not.
struct Prepared {
  std::unique_ptr<MachineTemplate> machine;
  std::unique_ptr<MachineRunner> runner;
  MachineRun healthy;
};
std::optional<Prepared> Prepare(const Scenario& scenario, const fs::path& work, const std::string& label) {
  Prepared prepared;
  prepared.machine = std::make_unique<MachineTemplate>(work / Slug(label), scenario.os);
  scenario.seed(*prepared.machine);
  prepared.machine->Seal();
  prepared.runner = std::make_unique<MachineRunner>(*prepared.machine, scenario.command, scenario.then, kBound);
  // Where several processes race for the install lock, the plan is made from a run in which none
  // had to wait: each call of such a run is made by every run, waiting or not.
  for (int attempt = 1; attempt <= kHealthyAttempts; ++attempt) {
    prepared.healthy = prepared.runner->Run(std::nullopt);
    if (!scenario.every_process || !Waited(scenario, prepared.healthy)) break;
  }
  if (std::vector<std::string> problems = Problems(scenario, prepared.healthy, prepared.healthy, nullptr);
      !problems.empty()) {
    std::printf("%s: the healthy run did not hold\n", label.c_str());
    Report("healthy run", problems);
    return std::nullopt;
  }
  return prepared;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Fails each call site of the scenario's program in turn; true when every run held.
bool SweepCalls(const Scenario& scenario, const fs::path& work, bool verbose) {
  const auto started = std::chrono::steady_clock::now();
  std::optional<Prepared> prepared = Prepare(scenario, work, scenario.name);
  if (!prepared) return false;
  const MachineRun& healthy = prepared->healthy;
  const FaultChoice choice =
      PlanFaults(healthy.trace, SweptProcesses(scenario, healthy.trace), scenario.host_calls, scenario.unswept);
  size_t held = 0, elsewhere = 0;
  for (const PlannedFault& fault : choice.faults) {
    const MachineRun run = prepared->runner->Run(fault.rule);
    const std::vector<std::string> problems = Problems(scenario, healthy, run, &fault);
    if (problems.empty()) ++held;
    // A process running beside the swept one may make the same call first and take the fault.
    if (const winsim::TraceEntry* faulted = FaultedCall(run); faulted) {
      const std::vector<int> swept = SweptProcesses(scenario, run.trace);
      if (std::find(swept.begin(), swept.end(), faulted->pid) == swept.end()) ++elsewhere;
    }
    const std::string what = fault.shown + ", occurrence " + std::to_string(fault.rule.skip + 1) + ", error " +
                             std::to_string(fault.rule.error);
    if (!problems.empty())
      Report(what, problems);
    else if (verbose)
      std::printf("  held: %s\n", what.c_str());
  }
  std::printf(
      "%s: %zu faulted runs, %zu held (one per call site among %zu calls; left out: %zu to calls that never "
      "fail, %zu allocations, %zu of the host program",
      scenario.name.c_str(), choice.faults.size(), held, choice.calls, choice.cannot_fail, choice.allocations,
      choice.host_calls);
  if (choice.unswept) std::printf("; %zu that the scenario leaves out", choice.unswept);
  if (elsewhere) std::printf("; %zu faults taken by the process beside it", elsewhere);
  std::printf("; %.0f s)\n", SecondsSince(started));
  std::fflush(stdout);
  return held == choice.faults.size();
}

// Fails the k-th allocation for k = 1, 2, ... until a run completes without reaching the failure;
// true when every run held.
bool SweepAllocations(const Scenario& scenario, const fs::path& work, bool verbose) {
  const auto started = std::chrono::steady_clock::now();
  const std::string label = "allocations, " + scenario.name;
  std::optional<Prepared> prepared = Prepare(scenario, work, label);
  if (!prepared) return false;
  size_t runs = 0, held = 0;
  for (int k = 1; k <= kMaxAllocations; ++k) {
    const MachineRun run =
        prepared->runner->Run(winsim::FaultRule{kAllocationCall, "", ERROR_NOT_ENOUGH_MEMORY, 1, k - 1});
    if (!FaultedCall(run)) {
      std::vector<std::string> problems = Problems(scenario, prepared->healthy, run, nullptr);
      if (!problems.empty()) Report("allocation " + std::to_string(k) + " never failed, yet the run", problems);
      std::printf(
          "%s: %zu faulted runs, %zu held (allocation k failed for k = 1 to %zu; run %d made no more "
          "allocations and %s; %.0f s)\n",
          label.c_str(), runs, held, runs, k, problems.empty() ? "held" : "did not hold", SecondsSince(started));
      std::fflush(stdout);
      return problems.empty() && held == runs;
    }
    ++runs;
    const std::vector<std::string> problems = AllocationProblems(scenario, prepared->healthy, run);
    if (problems.empty()) ++held;
    const std::string what = "allocation " + std::to_string(k) + " failed";
    if (!problems.empty())
      Report(what, problems);
    else if (verbose)
      std::printf("  held: %s\n", what.c_str());
  }
  std::printf("%s: still allocating after %d failed allocations\n", label.c_str(), kMaxAllocations);
  return false;
}

bool Chosen(const std::string& name, const std::vector<std::string>& wanted) {
  if (wanted.empty()) return true;
  for (const std::string& w : wanted) {
    if (name.find(w) != std::string::npos) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  bool verbose = false;
  std::vector<std::string> wanted;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--verbose")
      verbose = true;
    else
      wanted.push_back(arg);
  }
  AdoptOrphans();
  std::string pattern = (fs::temp_directory_path() / "fault-sweep-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) {
    std::fprintf(stderr, "fault_sweep: cannot make a work folder\n");
    return 2;
  }
  const fs::path work = pattern;
  bool all_held = true;
  try {
    std::vector<Scenario> scenarios = UninstallerScenarios();
    for (Scenario& scenario : LibraryScenarios()) scenarios.push_back(std::move(scenario));
    for (Scenario& scenario : InstallationScenarios()) scenarios.push_back(std::move(scenario));
    for (const Scenario& scenario : scenarios) {
      if (Chosen(scenario.name, wanted)) all_held = SweepCalls(scenario, work, verbose) && all_held;
    }
    for (const Scenario& scenario : AllocationScenarios()) {
      if (Chosen("allocations, " + scenario.name, wanted))
        all_held = SweepAllocations(scenario, work, verbose) && all_held;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "fault_sweep: %s\n", e.what());
    all_held = false;
  }
  std::error_code ec;
  fs::remove_all(work, ec);
  return all_held ? 0 : 1;
}
