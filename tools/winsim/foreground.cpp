#include "foreground.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace winsim_tool {
namespace {

constexpr int kPassedOn[] = {SIGINT, SIGQUIT, SIGHUP, SIGTERM};

int ExitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

}  // namespace

Foreground::Foreground() {
  sigemptyset(&held_);
  sigaddset(&held_, SIGCHLD);
  for (int signal : kPassedOn) {
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) sigaddset(&held_, signal);
  }
  pthread_sigmask(SIG_BLOCK, &held_, &previous_);
}

Foreground::~Foreground() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

int Foreground::Wait(const std::vector<int>& pids, const std::function<void(size_t, int)>& ended) {
  std::vector<bool> running(pids.size(), true);
  size_t left = pids.size();
  int passed_on = 0;
  while (left > 0) {
    for (size_t i = 0; i < pids.size(); ++i) {
      int status = 0;
      const pid_t reaped = running[i] ? waitpid(pids[i], &status, WNOHANG) : 0;
      if (reaped == 0 || (reaped < 0 && errno == EINTR)) continue;
      running[i] = false;
      --left;
      ended(i, reaped == pids[i] ? ExitCode(status) : -1);  // -1: not a child of this process
    }
    if (left == 0) break;
    // A program's end shows as SIGCHLD, held like the others, so none slips by between the two.
    const int signal = sigwaitinfo(&held_, nullptr);
    if (signal <= 0 || signal == SIGCHLD) continue;
    passed_on = signal;
    for (size_t i = 0; i < pids.size(); ++i)
      if (running[i]) kill(pids[i], signal);
  }
  return passed_on;
}

void EndBySignal(int signal) {
  struct sigaction fresh {};
  fresh.sa_handler = SIG_DFL;
  sigaction(signal, &fresh, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  raise(signal);
  std::_Exit(128 + signal);
}

}  // namespace winsim_tool
