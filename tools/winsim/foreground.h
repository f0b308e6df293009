// The programs that a command waits for, as a shell waits for its foreground job: a signal that
// would end the command (interrupt, quit, hang-up, terminate) is passed on to them, and each is
// reaped as soon as it ends.
#ifndef WINSIM_TOOL_FOREGROUND_H
#define WINSIM_TOOL_FOREGROUND_H

#include <signal.h>

#include <functional>
#include <vector>

namespace winsim_tool {

class Foreground {
 public:
  // From here on those signals wait for Wait, so that none is lost while the programs start.
  // A signal that this process ignores stays ignored, as its programs ignore it too.
  Foreground();
  ~Foreground();
  Foreground(const Foreground&) = delete;
  Foreground& operator=(const Foreground&) = delete;

  // Until every program (a child of this process) has ended; `ended` hears of each in the order
  // they end, with its exit code (128 + the signal that ended it). The last signal passed on, or 0.
  int Wait(const std::vector<int>& pids, const std::function<void(size_t, int)>& ended);

 private:
  sigset_t held_;
  sigset_t previous_;
};

// Ends this process by `signal`, as if nobody had caught it.
[[noreturn]] void EndBySignal(int signal);

}  // namespace winsim_tool

#endif
