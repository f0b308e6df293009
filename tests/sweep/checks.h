// What the runs of a scenario must show, faulted or not.
#ifndef SWEEP_CHECKS_H
#define SWEEP_CHECKS_H

#include <winsim/call.h>

#include <string>
#include <vector>

#include "fault_plan.h"
#include "scenario.h"
#include "sweep_machine.h"

namespace sweep {

// The process of the scenario's program that the run started (the first one in the trace), or 0.
int SweptProcess(const Scenario& scenario, const std::vector<winsim::TraceEntry>& trace);
// The processes whose calls are swept, in the order they first called: the first of the program's,
// or every one of them.
std::vector<int> SweptProcesses(const Scenario& scenario, const std::vector<winsim::TraceEntry>& trace);

// The call that the fault plan failed in the run, or null when the plan never struck.
const winsim::TraceEntry* FaultedCall(const MachineRun& run);

// Why a run of the fault sweep did not hold, one line each; empty when it held. `fault` is null for
// the healthy run, which `run` then is as well.
std::vector<std::string> Problems(const Scenario& scenario, const MachineRun& healthy, const MachineRun& run,
                                  const PlannedFault* fault);

// Why a run of the allocation sweep, whose plan failed an allocation, did not hold: the failure
// must reach the caller as the host program reports it (exit code 3, one line on stderr).
std::vector<std::string> AllocationProblems(const Scenario& scenario, const MachineRun& healthy, const MachineRun& run);

}  // namespace sweep

#endif
