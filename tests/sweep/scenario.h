// A scenario of the sweeps: the machine it starts from, the command it runs, and what its runs must
// show.
#ifndef SWEEP_SCENARIO_H
#define SWEEP_SCENARIO_H

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "sweep_machine.h"

namespace sweep {

struct Scenario {
  std::string name;
  std::string os;  // "98" or "nt4"
  std::function<void(MachineTemplate&)> seed;
  std::string command;  // Windows command line, started from C:\KIT as winsim run starts it
  std::string program;  // the program's name in the trace; its first process is the one swept
  int exit_code = 0;
  // Error boxes that any one process may show.
  int boxes = 0;
  // Calls that begin a step of the program's sequence: a run that fails a call still makes every
  // such call that comes after it in the healthy run.
  std::set<std::string> step_calls;
  // Calls of the program that hosts the deliverable (loading it, finding its export), not swept.
  std::set<std::string> host_calls = {};
  // Items that a healthy run deletes and writes again (winsim diff "- " lines, as they begin): a
  // faulted run may end between the two.
  std::vector<std::string> rewritten = {};
  // winsim commands run after the command, each in turn ("shell start --wait", for one).
  std::vector<std::vector<std::string>> then = {};
  // Sweeps every process of the program, not only its first.
  bool every_process = false;
  // Calls that this scenario does not fail; the scenario says why.
  std::set<std::string> unswept = {};
  // For a scenario whose every run must end in one of a few ways: how the run ended, or empty when
  // it ended in none of them. The healthy run must end as `healthy_ending` says.
  std::function<std::string(const MachineRun&)> ending = {};
  std::string healthy_ending = {};
};

std::vector<Scenario> UninstallerScenarios();
std::vector<Scenario> LibraryScenarios();
// The whole installation: both phases and the setup program, at once or through the shell's start.
std::vector<Scenario> InstallationScenarios();
// The phases alone, for the allocation sweep: one process each makes every allocation.
std::vector<Scenario> AllocationScenarios();

}  // namespace sweep

#endif
