// Running a program and everything it starts, with a bound on the time they may take together.
#ifndef SWEEP_BOUNDED_RUN_H
#define SWEEP_BOUNDED_RUN_H

#include <chrono>
#include <string>
#include <vector>

namespace sweep {

struct BoundedRun {
  int exit_code = -1;    // of the program itself; 128 + signal when a signal ended it
  bool overran = false;  // killed, with all it started, when the bound passed
  std::string out;
  std::string err;
};

// Makes this process the reaper of whatever its children leave behind, so that a run can wait for
// the programs they start without waiting for them (the chained command, a second phase). Call once.
void AdoptOrphans();

// Runs argv (argv[0] a host path) with `env` added to this process's environment, in a process group
// of its own, and waits until the program and every process it started have ended, or `bound` has
// passed; then the whole group is killed.
BoundedRun RunBounded(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                      std::chrono::milliseconds bound);

}  // namespace sweep

#endif
