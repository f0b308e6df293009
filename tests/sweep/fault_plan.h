// Which calls of a healthy run the sweep fails, one faulted run each, and with which error.
#ifndef SWEEP_FAULT_PLAN_H
#define SWEEP_FAULT_PLAN_H

#include <winsim/call.h>

#include <set>
#include <string>
#include <vector>

namespace sweep {

struct PlannedFault {
  size_t at = 0;      // index of the call in the healthy run's trace
  std::string shown;  // the call as the trace shows it
  winsim::FaultRule rule;
};

struct FaultChoice {
  std::vector<PlannedFault> faults;
  size_t calls = 0;        // the program's calls in the healthy run
  size_t cannot_fail = 0;  // of them, calls that Windows never fails
  size_t allocations = 0;  // of them, allocations, which the allocation sweep fails one by one
  size_t host_calls = 0;   // of them, calls of the program that hosts the deliverable
  size_t unswept = 0;      // of them, calls that the scenario leaves out
};

// One fault per call site among the calls that the processes `pids` made: calls that differ only in
// their numbers (the same call in another round of a loop, at another address) are failed once, at
// the first of them; a call on another handle, or that gave another kind of result (found, not
// found), or made by another of the processes, counts as another site.
// Each rule fails the k-th call of that name whose arguments hold the call's first text argument,
// k counted over the whole trace, and only that one.
FaultChoice PlanFaults(const std::vector<winsim::TraceEntry>& trace, const std::vector<int>& pids,
                       const std::set<std::string>& host_calls, const std::set<std::string>& unswept);

// The allocation call that the allocation sweep fails.
inline constexpr char kAllocationCall[] = "HeapAlloc";

// Calls that give a handle back.
bool ClosesHandle(const std::string& call);

// The first quoted argument as the trace writes it, quotes included; empty when there is none.
std::string FirstTextArgument(const std::string& args);

}  // namespace sweep

#endif
