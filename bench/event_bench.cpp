// Wake-up across processes: from SetEvent in one process to the return of WaitForSingleObject in
// another, beside its floor, a one-byte pipe wake between two processes, measured in the same run.
// Each sample is half a round trip to an echoing process (ping, then pong). Counters: medians of
// both in microseconds and their ratio.
#include <windows.h>

#include <winsim/machine.h>

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "temp_machine.h"

extern char** environ;

namespace {

constexpr const char* kEchoEvents = "--echo-events";
constexpr const char* kEchoPipe = "--echo-pipe";

int EchoEvents(const char* machine) {
  winsim::UseMachine(machine);
  HANDLE ping = OpenEventA(SYNCHRONIZE, FALSE, "Ping");
  HANDLE pong = OpenEventA(EVENT_MODIFY_STATE, FALSE, "Pong");
  if (!ping || !pong) return 1;
  while (WaitForSingleObject(ping, INFINITE) == WAIT_OBJECT_0) SetEvent(pong);
  return 1;
}

int EchoPipe() {
  char byte;
  while (::read(0, &byte, 1) == 1)
    if (::write(1, &byte, 1) != 1) return 1;
  return 0;
}

// This program again, in echo mode, with its stdin and stdout on the given descriptors (or kept).
pid_t StartEcho(std::vector<std::string> args, int in = -1, int out = -1) {
  char self[4096];
  ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return -1;
  args.insert(args.begin(), std::string(self, static_cast<size_t>(n)));
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (in >= 0) posix_spawn_file_actions_adddup2(&actions, in, 0);
  if (out >= 0) posix_spawn_file_actions_adddup2(&actions, out, 1);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

void Stop(pid_t pid) {
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
}

double Median(std::vector<double> v) {
  std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
  return v[v.size() / 2];
}

void BM_WakeAcrossProcesses(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  testing_support::TempMachine machine;
  HANDLE ping = CreateEventA(nullptr, FALSE, FALSE, "Ping");
  HANDLE pong = CreateEventA(nullptr, FALSE, FALSE, "Pong");
  int to_echo[2], from_echo[2];
  if (::pipe2(to_echo, O_CLOEXEC) != 0 || ::pipe2(from_echo, O_CLOEXEC) != 0) {
    state.SkipWithError("pipe failed");
    return;
  }
  const pid_t event_echo = StartEcho({kEchoEvents, machine.Folder().string()});
  const pid_t pipe_echo = StartEcho({kEchoPipe}, to_echo[0], from_echo[1]);
  ::close(to_echo[0]);
  ::close(from_echo[1]);
  if (event_echo < 0 || pipe_echo < 0) {
    state.SkipWithError("cannot start the echoing processes");
    return;
  }

  std::vector<double> event_us, pipe_us;
  char byte = 'x';
  for (auto _ : state) {
    auto t0 = Clock::now();
    SetEvent(ping);
    const DWORD woke = WaitForSingleObject(pong, 10000);
    auto t1 = Clock::now();
    const bool echoed = ::write(to_echo[1], &byte, 1) == 1 && ::read(from_echo[0], &byte, 1) == 1;
    auto t2 = Clock::now();
    if (woke != WAIT_OBJECT_0 || !echoed) {
      state.SkipWithError("an echo did not answer");
      break;
    }
    event_us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count() / 2);
    pipe_us.push_back(std::chrono::duration<double, std::micro>(t2 - t1).count() / 2);
    state.SetIterationTime(event_us.back() / 1e6);
  }
  Stop(event_echo);
  ::close(to_echo[1]);
  ::close(from_echo[0]);
  Stop(pipe_echo);
  if (event_us.empty()) return;
  const double event_median = Median(event_us), pipe_median = Median(pipe_us);
  state.counters["event_wake_us"] = event_median;
  state.counters["pipe_wake_us"] = pipe_median;
  state.counters["ratio"] = event_median / pipe_median;
}
BENCHMARK(BM_WakeAcrossProcesses)->UseManualTime()->Iterations(5000)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], kEchoEvents) == 0) return EchoEvents(argv[2]);
  if (argc == 2 && std::strcmp(argv[1], kEchoPipe) == 0) return EchoPipe();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
