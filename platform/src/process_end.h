// The end of a process that uses the machine.
#ifndef WINSIM_PROCESS_END_H
#define WINSIM_PROCESS_END_H

namespace winsim {

// From the first use of a machine on: when the process ends normally (exit, return from main),
// the handles still open are reported in the trace and closed. Called more than once, it does
// nothing more.
void WatchProcessEnd();

}  // namespace winsim

#endif
