// The registry on a machine of 100,000 keys: open+query+close of a value beside the floor, a raw
// SQLite point query on the same machine.db; and the import of a 100,000-key REGEDIT4 file.
#include <windows.h>

#include <winsim/machine.h>
#include <winsim/registry.h>

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include "temp_machine.h"

#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kKeys = 100000;
constexpr int kKeysPerGroup = 1000;

std::string KeyPath(int i) {
  char path[64];
  std::snprintf(path, sizeof path, "Bench\\Group%03d\\Key%06d", i / kKeysPerGroup, i);
  return path;
}

const std::string& BenchFile() {
  static const std::string text = [] {
    std::string t = "REGEDIT4\r\n\r\n";
    for (int i = 0; i < kKeys; ++i) {
      char value[48];
      std::snprintf(value, sizeof value, "]\r\n\"Value\"=dword:%08x\r\n\r\n", static_cast<unsigned>(i));
      t += "[HKEY_LOCAL_MACHINE\\" + KeyPath(i) + value;
    }
    return t;
  }();
  return text;
}

// One machine of 100,000 keys for the lookups, and the keys to look up in a scattered order.
struct LookupMachine {
  testing_support::TempMachine machine;
  std::vector<std::string> paths;
  LookupMachine() {
    winsim::ImportRegedit4(BenchFile());
    std::mt19937 random(42);
    for (int i = 0; i < 4096; ++i) paths.push_back(KeyPath(static_cast<int>(random() % kKeys)));
  }
};

LookupMachine& Lookups() {
  static LookupMachine lookups;
  if (winsim::CurrentMachine().Folder() != lookups.machine.Folder()) winsim::UseMachine(lookups.machine.Folder());
  return lookups;
}

void BM_OpenQueryClose(benchmark::State& state) {
  LookupMachine& m = Lookups();
  size_t n = 0;
  for (auto _ : state) {
    const std::string& path = m.paths[n++ % m.paths.size()];
    HKEY key = nullptr;
    DWORD value = 0, size = sizeof value;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, path.c_str(), &key) != ERROR_SUCCESS ||
        RegQueryValueExA(key, "Value", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        RegCloseKey(key) != ERROR_SUCCESS) {
      state.SkipWithError("registry call failed");
      break;
    }
    benchmark::DoNotOptimize(value);
  }
}

void BM_RawSqlitePointQuery(benchmark::State& state) {
  LookupMachine& m = Lookups();
  std::vector<std::string> folded = m.paths;
  for (std::string& p : folded)
    for (char& c : p) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  sqlite3* db = nullptr;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_open_v2((m.machine.Folder() / "machine.db").c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(db, "SELECT id FROM reg_keys WHERE path = ?", -1, &stmt, nullptr) != SQLITE_OK) {
    state.SkipWithError(sqlite3_errmsg(db));
  }
  size_t n = 0;
  for (auto _ : state) {
    const std::string& path = folded[n++ % folded.size()];
    sqlite3_bind_text(stmt, 1, path.data(), static_cast<int>(path.size()), SQLITE_STATIC);
    if (sqlite3_step(stmt) != SQLITE_ROW) {
      state.SkipWithError("key not found");
      break;
    }
    benchmark::DoNotOptimize(sqlite3_column_int64(stmt, 0));
    sqlite3_reset(stmt);
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
}

void BM_Import100kKeys(benchmark::State& state) {
  const std::string& text = BenchFile();
  for (auto _ : state) {
    state.PauseTiming();
    auto machine = std::make_unique<testing_support::TempMachine>();
    state.ResumeTiming();
    winsim::ImportRegedit4(text);
    state.PauseTiming();
    machine.reset();
    state.ResumeTiming();
  }
}

BENCHMARK(BM_OpenQueryClose)->Repetitions(5);
BENCHMARK(BM_RawSqlitePointQuery)->Repetitions(5);
BENCHMARK(BM_Import100kKeys)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5);

// Prints the medians side by side with the goals at the end of the run.
class GoalReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
        medians_[run.run_name.function_name] = run.GetAdjustedRealTime();
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    auto triple = medians_.find("BM_OpenQueryClose"), raw = medians_.find("BM_RawSqlitePointQuery");
    if (triple != medians_.end() && raw != medians_.end())
      std::printf("open+query+close / raw point query: %.0f ns / %.0f ns = %.2fx (goal: within 5x)\n", triple->second,
                  raw->second, triple->second / raw->second);
    if (auto import = medians_.find("BM_Import100kKeys"); import != medians_.end())
      std::printf("import of %d keys: %.0f ms (goal: under 3000 ms)\n", kKeys, import->second);
  }

 private:
  std::map<std::string, double> medians_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  GoalReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
