// w9xpurge /f2 on a large machine (20,000 registry keys, 500 OEM INF files of 64 KiB each), beside
// grep -l for the same header over the same 500 files, in the same run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "run.h"
#include "temp_machine.h"

namespace {

using namespace testing_support;

struct LargeMachine {
  TempMachine machine{winsim::WindowsFlavour::Win98, 1252};
  std::vector<std::string> inf_files;

  LargeMachine() {
    std::string reg = "REGEDIT4\r\n\r\n";
    for (int i = 0; i < 20000; ++i) {
      reg += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bench\\Vendor" + std::to_string(i % 100) + "\\Product" +
             std::to_string(i) + "]\r\n\"Version\"=\"1.0\"\r\n";
    }
    Winsim(machine.Folder(), {"reg", "import", "-"}, reg);
    std::string inf;
    for (int line = 0; inf.size() < 64 * 1024; ++line)
      inf += "HKR,,Entry" + std::to_string(line) + ",0,\"a value that is not the driver section\"\r\n";
    inf.resize(64 * 1024);
    for (int i = 0; i < 500; ++i) {
      std::string name = "C:\\WINDOWS\\INF\\OEM" + std::to_string(i) + ".INF";
      machine.Write(name, inf);
      inf_files.push_back(machine.Host(name).string());
    }
    machine.Put(BinPath("w9xpurge.exe"), "C:\\KIT\\W9XPURGE.EXE");
  }
};

LargeMachine& Machine() {
  static LargeMachine* m = new LargeMachine;
  return *m;
}

std::vector<double> g_purge_ms, g_grep_ms;

template <class F>
void Timed(benchmark::State& state, std::vector<double>& samples, F run) {
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    run();
    std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    samples.push_back(took.count());
    state.SetIterationTime(took.count() / 1000);
  }
}

void BM_W9xPurge(benchmark::State& state) {
  LargeMachine& m = Machine();
  std::string program = m.machine.Host("C:\\KIT\\W9XPURGE.EXE").string();
  Timed(state, g_purge_ms, [&] { RunHost(m.machine.Folder(), {program, "/f2"}); });
}

void BM_GrepFloor(benchmark::State& state) {
  LargeMachine& m = Machine();
  std::vector<std::string> argv = {"/usr/bin/grep", "-l", "^\\[K5583\\.DR"};
  argv.insert(argv.end(), m.inf_files.begin(), m.inf_files.end());
  Timed(state, g_grep_ms, [&] { RunHost(m.machine.Folder(), argv); });
}

BENCHMARK(BM_W9xPurge)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(15);
BENCHMARK(BM_GrepFloor)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(15);

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  double purge = Median(g_purge_ms), grep = Median(g_grep_ms);
  std::printf("median w9xpurge /f2 %.1f ms, grep -l %.1f ms, ratio %.2f (goal: within 2)\n", purge, grep,
              grep > 0 ? purge / grep : 0);
  return 0;
}
