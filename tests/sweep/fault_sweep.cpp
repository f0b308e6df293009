// fault_sweep: runs each scenario once healthy, then once for each call site of the swept program
// with exactly that call failing, each run on a fresh copy of the same machine, and checks that every
// faulted run held: it finished, exited as it should, still made every later step, showed no more
// boxes than allowed, left no handle open and the install lock free, and removed or changed nothing
// that the healthy run keeps.
//
//   fault_sweep [--verbose] [NAME...]   (NAME: run only the scenarios whose name holds it)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "checks.h"
#include "fault_plan.h"
#include "scenario.h"
#include "sweep_machine.h"

namespace {

using namespace sweep;

constexpr std::chrono::seconds kBound(30);

std::string Slug(const std::string& name) {
  std::string slug;
  for (char c : name) slug += std::isalnum(static_cast<unsigned char>(c)) ? c : '-';
  return slug;
}

void Report(const std::string& what, const std::vector<std::string>& problems) {
  std::printf("  NOT HELD: %s\n", what.c_str());
  for (const std::string& problem : problems) std::printf("    %s\n", problem.c_str());
}

// Sweeps one scenario; true when every run held.
bool Sweep(const Scenario& scenario, const fs::path& work, bool verbose) {
  const auto started = std::chrono::steady_clock::now();
  MachineTemplate machine(work / Slug(scenario.name), scenario.os);
  scenario.seed(machine);
  machine.Seal();
  MachineRunner runner(machine, scenario.command, kBound);

  const MachineRun healthy = runner.Run(std::nullopt);
  if (std::vector<std::string> problems = Problems(scenario, healthy, healthy, nullptr); !problems.empty()) {
    std::printf("%s: the healthy run did not hold\n", scenario.name.c_str());
    Report("healthy run", problems);
    return false;
  }
  const FaultChoice choice = PlanFaults(healthy.trace, SweptProcess(scenario, healthy.trace));
  size_t held = 0;
  for (const PlannedFault& fault : choice.faults) {
    const MachineRun run = runner.Run(fault.rule);
    const std::vector<std::string> problems = Problems(scenario, healthy, run, &fault);
    if (problems.empty()) ++held;
    const std::string what = fault.shown + ", occurrence " + std::to_string(fault.rule.skip + 1) + ", error " +
                             std::to_string(fault.rule.error);
    if (!problems.empty())
      Report(what, problems);
    else if (verbose)
      std::printf("  held: %s\n", what.c_str());
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf(
      "%s: %zu faulted runs, %zu held (%zu calls in the healthy run; %zu of them to calls that never fail "
      "left out; one run per call site; %.0f s)\n",
      scenario.name.c_str(), choice.faults.size(), held, choice.calls, choice.cannot_fail, seconds);
  std::fflush(stdout);
  return held == choice.faults.size();
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
    for (const Scenario& scenario : UninstallerScenarios()) {
      bool chosen = wanted.empty();
      for (const std::string& name : wanted) chosen = chosen || scenario.name.find(name) != std::string::npos;
      if (chosen) all_held = Sweep(scenario, work, verbose) && all_held;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "fault_sweep: %s\n", e.what());
    all_held = false;
  }
  std::error_code ec;
  fs::remove_all(work, ec);
  return all_held ? 0 : 1;
}
