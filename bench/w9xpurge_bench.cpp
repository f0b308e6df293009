// `winsim run 'C:\KIT\W9XPURGE.EXE /f2'` on a large machine (20,000 registry keys, 500 OEM INF
// files of 64 KiB, none holding the driver section, so that every file is read whole), beside
// `grep -l -F` for the same header over the same files. Each iteration runs both, one after the
// other, so that both see the same load; once with short lines and once with longer ones.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "run.h"
#include "temp_machine.h"

namespace {

using namespace testing_support;

struct LargeMachine {
  TempMachine machine{winsim::WindowsFlavour::Win98, 1252};
  std::vector<std::string> inf_files;

  explicit LargeMachine(const std::string& value) {
    std::string reg = "REGEDIT4\r\n\r\n";
    for (int i = 0; i < 20000; ++i) {
      reg += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bench\\Vendor" + std::to_string(i % 100) + "\\Product" +
             std::to_string(i) + "]\r\n\"Version\"=\"1.0\"\r\n";
    }
    Winsim(machine.Folder(), {"reg", "import", "-"}, reg);
    std::string inf;
    for (int line = 0; inf.size() < 64 * 1024; ++line)
      inf += "HKR,,Entry" + std::to_string(line) + ",0,\"" + value + "\"\r\n";
    inf.resize(64 * 1024);
    for (int i = 0; i < 500; ++i) {
      std::string name = "C:\\WINDOWS\\INF\\OEM" + std::to_string(i) + ".INF";
      machine.Write(name, inf);
      inf_files.push_back(machine.Host(name).string());
    }
    machine.Put(BinPath("w9xpurge.exe"), "C:\\KIT\\W9XPURGE.EXE");
  }
};

struct Samples {
  std::vector<double> purge_ms, grep_ms;
};
std::map<std::string, Samples> g_samples;

double Run(const std::function<void()>& run) {
  const auto start = std::chrono::steady_clock::now();
  run();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// Lines of about 45 bytes, and of about 60.
void Purge(benchmark::State& state, const char* name, const std::string& value) {
  LargeMachine m(value);
  std::vector<std::string> grep = {"/usr/bin/grep", "-l", "-F", "[K5583.DRV]"};
  grep.insert(grep.end(), m.inf_files.begin(), m.inf_files.end());
  Samples& samples = g_samples[name];
  for (auto _ : state) {
    const double purge = Run([&] { Winsim(m.machine.Folder(), {"run", "C:\\KIT\\W9XPURGE.EXE /f2"}); });
    samples.purge_ms.push_back(purge);
    samples.grep_ms.push_back(Run([&] { RunHost(m.machine.Folder(), grep); }));
    state.SetIterationTime(purge / 1000);
  }
}

BENCHMARK_CAPTURE(Purge, short_lines, "short lines", "not the driver section")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(15);
BENCHMARK_CAPTURE(Purge, long_lines, "long lines", "a value that is not the driver section")
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(15);

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const auto& [name, samples] : g_samples) {
    const double purge = Median(samples.purge_ms), grep = Median(samples.grep_ms);
    std::printf("%s: median winsim run w9xpurge /f2 %.1f ms, grep -l -F %.1f ms, ratio %.2f (goal: within 2)\n",
                name.c_str(), purge, grep, grep > 0 ? purge / grep : 0);
  }
  return 0;
}
