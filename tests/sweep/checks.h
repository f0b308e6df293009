// What every run of a scenario must show, faulted or not.
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

// Why `run` did not hold, one line each; empty when it held. `fault` is null for the healthy run,
// which `run` then is as well.
std::vector<std::string> Problems(const Scenario& scenario, const MachineRun& healthy, const MachineRun& run,
                                  const PlannedFault* fault);

}  // namespace sweep

#endif
