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

void Options(benchmark::internal::Benchmark* b) {
  b->UseRealTime()->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
}

BENCHMARK(BM_PosixSpawnOfTrivialHostProgram)->Apply(Options);
BENCHMARK(BM_PosixSpawnOfMachineProgram)->Apply(Options);
BENCHMARK(BM_WinExecOfMachineProgram)->Apply(Options);

}  // namespace

BENCHMARK_MAIN();
