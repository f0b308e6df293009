// From starting a program until its entry runs: WinExec of a machine program (found by Windows
// rules, started through the machine's start-up until WinMain) beside a bare posix_spawn of a
// trivial host program until main, and of the same machine program without WinExec's search.
#include <windows.h>

#include <winsim/process.h>

#include "temp_machine.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using testing_support::BinPath;
using testing_support::TempMachine;

// A FIFO the started programs write one byte into; held open both ways so that no open blocks.
// They hold PATH.lock shared until they end.
class Ping {
 public:
  explicit Ping(const fs::path& path) : path_(path) {
    ::mkfifo(path.c_str(), 0600);
    fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  }
  ~Ping() { ::close(fd_); }
  const fs::path& Path() const { return path_; }
  bool Wait() const {
    char c;
    return ::read(fd_, &c, 1) == 1;
  }
  // Outside the timing, so that no program's end overlaps the next start.
  void WaitForEnd(benchmark::State& state) const {
    state.PauseTiming();
    const int lock = ::open((path_.string() + ".lock").c_str(), O_RDONLY | O_CLOEXEC);
    ::flock(lock, LOCK_EX);
    ::close(lock);
    state.ResumeTiming();
  }

 private:
  fs::path path_;
  int fd_;
};

void PosixSpawnUntilMain(benchmark::State& state, const std::vector<std::string>& argv, char** envp, const Ping& ping) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  for (auto _ : state) {
    pid_t pid = 0;
    if (posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), envp) != 0 || !ping.Wait()) {
      state.SkipWithError("the program did not start");
      break;
    }
    ping.WaitForEnd(state);
    ::waitpid(pid, nullptr, 0);
  }
}

void BM_PosixSpawnOfTrivialHostProgram(benchmark::State& state) {
  TempMachine machine;
  Ping ping(machine.Folder() / "ping");
  PosixSpawnUntilMain(state, {BinPath("ping_host").string(), ping.Path().string()}, environ, ping);
}

void BM_PosixSpawnOfMachineProgram(benchmark::State& state) {
  TempMachine machine;
  machine.Put(BinPath("ping.exe"), "C:\\BENCH\\PING.EXE");
  Ping ping(machine.Folder() / "ping");
  std::vector<std::string> env = {std::string(winsim::kEnvMachine) + "=" + machine.Folder().string(),
                                  std::string(winsim::kEnvCommandLine) + "=PING.EXE " + ping.Path().string()};
  std::vector<char*> envp;
  for (std::string& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);
  PosixSpawnUntilMain(state, {machine.Host("C:\\BENCH\\PING.EXE").string()}, envp.data(), ping);
}

void BM_WinExecOfMachineProgram(benchmark::State& state) {
  TempMachine machine;
  machine.Put(BinPath("ping.exe"), "C:\\BENCH\\PING.EXE");
  Ping ping(machine.Folder() / "ping");
  const std::string line = "C:\\BENCH\\PING " + ping.Path().string();
  for (auto _ : state) {
    if (WinExec(line.c_str(), SW_SHOW) <= 31 || !ping.Wait()) {
      state.SkipWithError("the program did not start");
      break;
    }
    ping.WaitForEnd(state);
  }
}

// `winsim run` of a program that returns at once, until it has ended, beside a bare spawn of a
// trivial host program until it has ended; in turn, so that both see the same load.
std::vector<double> g_run_ms, g_bare_ms;

double SpawnAndWait(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return -1;
  ::waitpid(pid, nullptr, 0);
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void BM_WinsimRunBesideBareSpawn(benchmark::State& state) {
  TempMachine machine;
  machine.Put(BinPath("quit.exe"), "C:\\BENCH\\QUIT.EXE");
  const std::vector<std::string> run = {BinPath("winsim").string(), "--machine", machine.Folder().string(), "run",
                                        "C:\\BENCH\\QUIT.EXE"};
  const std::vector<std::string> bare = {BinPath("ping_host").string()};  // returns at once without an argument
  for (auto _ : state) {
    const double ms = SpawnAndWait(run);
    g_run_ms.push_back(ms);
    g_bare_ms.push_back(SpawnAndWait(bare));
    state.SetIterationTime(ms / 1000);
  }
}

void Options(benchmark::internal::Benchmark* b) {
  b->UseRealTime()->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
}

BENCHMARK(BM_PosixSpawnOfTrivialHostProgram)->Apply(Options);
BENCHMARK(BM_PosixSpawnOfMachineProgram)->Apply(Options);
BENCHMARK(BM_WinExecOfMachineProgram)->Apply(Options);
BENCHMARK(BM_WinsimRunBesideBareSpawn)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(100);

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const double run = Median(g_run_ms), bare = Median(g_bare_ms);
  if (!g_run_ms.empty())
    std::printf(
        "median winsim run of a program that returns at once %.2f ms, bare spawn %.2f ms, ratio %.2f "
        "(goal: within 3)\n",
        run, bare, bare > 0 ? run / bare : 0);
  return 0;
}
