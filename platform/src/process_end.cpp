#include "process_end.h"

#include <winsim/call.h>
#include <winsim/handles.h>

#include <unistd.h>

#include <cstdlib>
#include <mutex>

namespace winsim {
namespace {

int g_watching_pid = 0;

// Runs from atexit, registered at the first use of a machine: after the destructors of everything
// built later (libraries loaded since, their static objects) and before the machine itself goes.
void CloseWhatIsLeftOpen() {
  // A forked child that exits without exec shares this table but holds none of the handles.
  if (::getpid() != g_watching_pid) return;
  try {
    for (const OpenHandle& h : OpenHandles())
      TraceLine("<exit>", Arg::Hex(h.value).text + ", " + h.description, "left open", 0);
  } catch (const std::exception&) {
    // The report is lost; the handles are still closed.
  }
  DropAllHandles();
}

}  // namespace

void WatchProcessEnd() {
  static std::once_flag once;
  std::call_once(once, [] {
    g_watching_pid = ::getpid();
    std::atexit(CloseWhatIsLeftOpen);
  });
}

}  // namespace winsim
