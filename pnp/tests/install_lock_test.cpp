// The install lock across real processes: RunDLL32 and the stand-in installer take it through
// the built library. Who held it when is read from the machine's call trace, never from a clock.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <fstream>
#include <map>

#include <winsim/call.h>
#include <winsim/windows_table.h>

#include "library_machine.h"
#include "run.h"

namespace pnp_tests {
namespace {

using testing_support::WaitUntil;

constexpr auto kBound = std::chrono::seconds(120);
constexpr char kMissingNode[] = "Enum\\LPTENUM\\Missing C:\\Kdr";

// One holding of the lock: from the create that took it to the last call before the release.
struct Holding {
  int pid;
  int64_t first;
  int64_t last;
};

std::vector<Holding> Holdings(const std::vector<winsim::TraceEntry>& trace) {
  std::map<int, std::vector<const winsim::TraceEntry*>> by_process;
  for (const winsim::TraceEntry& row : trace) by_process[row.pid].push_back(&row);
  std::vector<Holding> holdings;
  for (auto& [pid, rows] : by_process) {
    int64_t taken = 0;  // trace ids start at 1
    for (size_t i = 0; i < rows.size(); ++i) {
      const std::string& call = rows[i]->call;
      const bool waits_next = i + 1 < rows.size() && rows[i + 1]->call == "WaitForSingleObject";
      const bool lock_event = rows[i]->args.find(kLockName) != std::string::npos;
      if (call == "CreateEventA" && lock_event && !waits_next && !taken) taken = rows[i]->id;
      if (call == "SetEvent" && taken) {
        holdings.push_back({pid, taken, rows[i - 1]->id});
        taken = 0;
      }
    }
  }
  std::sort(holdings.begin(), holdings.end(), [](auto& a, auto& b) { return a.first < b.first; });
  return holdings;
}

void ExpectNoOverlap(const std::vector<Holding>& holdings) {
  for (size_t i = 1; i < holdings.size(); ++i) {
    EXPECT_GT(holdings[i].first, holdings[i - 1].last)
        << "process " << holdings[i].pid << " took the lock while " << holdings[i - 1].pid << " held it";
  }
}

int TimeoutsOf(int pid, int64_t after = 0) {
  int count = 0;
  for (const winsim::TraceEntry& row : Trace()) {
    count += row.pid == pid && row.id > after && row.call == "WaitForSingleObject" && row.result == "258";
  }
  return count;
}

// Processes that have opened the event and wait on it.
std::vector<int> Waiters() {
  std::vector<int> pids;
  for (const winsim::TraceEntry& row : Trace()) {
    if (row.call == "WaitForSingleObject" && std::find(pids.begin(), pids.end(), row.pid) == pids.end()) {
      pids.push_back(row.pid);
    }
  }
  return pids;
}

std::vector<winsim::JournalEntry> OpenBoxes() {
  std::vector<winsim::JournalEntry> open;
  for (auto& box : Boxes()) {
    if (box.state == "open") open.push_back(box);
  }
  return open;
}

TEST(InstallLock, UncontendedTakeNeitherWaitsNorPausesAndLeavesNoEvent) {
  LibraryMachine machine;
  winsim::SetTrace(true);
  machine.Schedule(kMissingNode);
  std::vector<std::string> lock_calls;
  for (const winsim::TraceEntry& row : Trace()) {
    if (row.call == "OpenEventA" || row.call == "CreateEventA" || row.call == "WaitForSingleObject" ||
        row.call == "Sleep" || row.call == "SetEvent" || row.call == "CloseHandle") {
      lock_calls.push_back(row.call);
    }
  }
  EXPECT_EQ(lock_calls, (std::vector<std::string>{"OpenEventA", "CreateEventA", "SetEvent", "CloseHandle"}));
  EXPECT_FALSE(LockEventExists());
}

TEST(InstallLock, AWaiterHandlesMessagesBetweenSlicesAndPausesAfterTheRelease) {
  LibraryMachine machine;
  BackgroundRuns runs(machine);
  winsim::SetHoldBoxes(true);
  winsim::SetTrace(true);
  const size_t holder = runs.FirstPhase(kMissingNode);
  ASSERT_TRUE(WaitUntil([] { return OpenBoxes().size() == 1; }, kBound));
  const int holder_pid = OpenBoxes()[0].pid;
  const size_t waiter = runs.FirstPhase(kMissingNode);
  ASSERT_TRUE(WaitUntil([] { return Waiters().size() == 1; }, kBound));
  const int waiter_pid = Waiters()[0];
  ASSERT_TRUE(WaitUntil([&] { return TimeoutsOf(waiter_pid) >= 2; }, kBound));
  EXPECT_EQ(OpenBoxes().size(), 1u) << "the waiter got past the lock";

  winsim::CloseAllBoxes();
  ASSERT_TRUE(WaitUntil([] { return OpenBoxes().size() == 1; }, kBound));
  EXPECT_EQ(OpenBoxes()[0].pid, waiter_pid);
  winsim::CloseAllBoxes();
  ASSERT_EQ(runs.ExitCode(holder), 0);
  ASSERT_EQ(runs.ExitCode(waiter), 0);

  const auto trace = Trace();
  const auto holdings = Holdings(trace);
  ASSERT_EQ(holdings.size(), 2u);
  EXPECT_EQ(holdings[0].pid, holder_pid);
  EXPECT_EQ(holdings[1].pid, waiter_pid);
  ExpectNoOverlap(holdings);
  // The waiter's way in: a message looked at between slices; after the release, the pause, then the create.
  std::vector<std::string> calls;
  size_t opened = 0, taken = 0;
  for (const winsim::TraceEntry& row : trace) {
    if (row.pid != waiter_pid) continue;
    if (row.call == "OpenEventA" && !opened) opened = calls.size();
    if (row.id == holdings[1].first) taken = calls.size();
    calls.push_back(row.call + " " + row.result);
  }
  ASSERT_TRUE(opened + 3 < calls.size() && taken >= 2);
  EXPECT_EQ(calls[opened + 1], "WaitForSingleObject 258");
  EXPECT_EQ(calls[opened + 2].rfind("PeekMessageA", 0), 0u);
  EXPECT_EQ(calls[taken - 2], "WaitForSingleObject 0");
  EXPECT_EQ(calls[taken - 1], "Sleep ");
  EXPECT_FALSE(LockEventExists());
}

// Taking the lock is an open and then a create. A taker whose open found no event but whose create
// found one treats the lock as held; a released waiter keeps the event alive through its pause,
// so that a newcomer then waits instead of going ahead.
TEST(InstallLock, NeitherGapOfTheTwoStepTakeLetsASecondPhaseIn) {
  LibraryMachine machine;
  BackgroundRuns runs(machine);
  winsim::SetHoldBoxes(true);
  winsim::SetTrace(true);
  const size_t holder = runs.FirstPhase(kMissingNode);
  ASSERT_TRUE(WaitUntil([] { return OpenBoxes().size() == 1; }, kBound));

  // The holder took the lock between the taker's open and its create.
  winsim::AddFault({"OpenEventA", kLockName, ERROR_FILE_NOT_FOUND, 1, 0});
  const size_t taker = runs.FirstPhase(kMissingNode);
  ASSERT_TRUE(WaitUntil([] { return Waiters().size() == 1; }, kBound));
  const int taker_pid = Waiters()[0];
  ASSERT_TRUE(WaitUntil([&] { return TimeoutsOf(taker_pid) >= 1; }, kBound));
  EXPECT_EQ(OpenBoxes().size(), 1u) << "the taker went on while the lock was held";

  // Released, the taker pauses; a newcomer arrives meanwhile, after the holder's handle is gone.
  winsim::CloseAllBoxes();
  auto released = [&] {
    for (const winsim::TraceEntry& row : Trace()) {
      if (row.pid == taker_pid && row.call == "WaitForSingleObject" && row.result == "0") return true;
    }
    return false;
  };
  ASSERT_TRUE(WaitUntil(released, kBound));
  const size_t newcomer = runs.FirstPhase(kMissingNode);
  ASSERT_TRUE(WaitUntil([] { return OpenBoxes().size() == 1; }, kBound));
  EXPECT_EQ(OpenBoxes()[0].pid, taker_pid);
  ASSERT_TRUE(WaitUntil([] { return Waiters().size() == 2 || OpenBoxes().size() > 1; }, kBound));
  const int newcomer_pid = Waiters().back();
  ASSERT_TRUE(WaitUntil([&] { return TimeoutsOf(newcomer_pid) >= 1 || OpenBoxes().size() > 1; }, kBound));
  EXPECT_EQ(OpenBoxes().size(), 1u) << "the newcomer went on while the released taker held the lock";

  winsim::CloseAllBoxes();
  ASSERT_TRUE(WaitUntil([&] { return OpenBoxes().size() == 1 && OpenBoxes()[0].pid == newcomer_pid; }, kBound));
  winsim::CloseAllBoxes();
  EXPECT_EQ(runs.ExitCode(holder), 0);
  EXPECT_EQ(runs.ExitCode(taker), 0);
  EXPECT_EQ(runs.ExitCode(newcomer), 0);
  EXPECT_EQ(Holdings(Trace()).size(), 3u);
  ExpectNoOverlap(Holdings(Trace()));
  EXPECT_FALSE(LockEventExists());
}

// A taker whose open and create of the event both fail cannot tell whether the lock is held: it
// pauses and tries again, as a released waiter does, and never goes on unguarded.
TEST(InstallLock, ATakerThatCanNeitherOpenNorCreateTheEventPausesAndTriesAgain) {
  LibraryMachine machine;
  BackgroundRuns runs(machine);
  winsim::SetHoldBoxes(true);
  winsim::SetTrace(true);
  const size_t holder = runs.FirstPhase(kMissingNode);
  ASSERT_TRUE(WaitUntil([] { return OpenBoxes().size() == 1; }, kBound));
  const int holder_pid = OpenBoxes()[0].pid;

  winsim::AddFault({"OpenEventA", kLockName, ERROR_NOT_ENOUGH_MEMORY, 1, 0});
  winsim::AddFault({"CreateEventA", kLockName, ERROR_NOT_ENOUGH_MEMORY, 1, 0});
  const size_t taker = runs.FirstPhase(kMissingNode);
  ASSERT_TRUE(WaitUntil([] { return Waiters().size() == 1 || OpenBoxes().size() > 1; }, kBound));
  ASSERT_EQ(OpenBoxes().size(), 1u) << "the taker went on while the lock was held";
  const int taker_pid = Waiters()[0];
  ASSERT_TRUE(WaitUntil([&] { return TimeoutsOf(taker_pid) >= 1; }, kBound));
  EXPECT_EQ(OpenBoxes().size(), 1u) << "the taker went on while the lock was held";
  std::vector<std::string> calls;
  for (const winsim::TraceEntry& row : Trace()) {
    if (row.pid == taker_pid && (row.call.rfind("OpenEventA", 0) == 0 || row.call.rfind("CreateEventA", 0) == 0 ||
                                 row.call == "Sleep" || row.call == "WaitForSingleObject"))
      calls.push_back(row.call);
  }
  ASSERT_GE(calls.size(), 5u);
  EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 5),
            (std::vector<std::string>{"OpenEventA [fault]", "CreateEventA [fault]", "Sleep", "OpenEventA",
                                      "WaitForSingleObject"}));

  winsim::CloseAllBoxes();
  ASSERT_TRUE(WaitUntil([&] { return OpenBoxes().size() == 1 && OpenBoxes()[0].pid == taker_pid; }, kBound));
  winsim::CloseAllBoxes();
  EXPECT_EQ(runs.ExitCode(holder), 0);
  EXPECT_EQ(runs.ExitCode(taker), 0);
  const auto holdings = Holdings(Trace());
  ASSERT_EQ(holdings.size(), 2u);
  EXPECT_EQ(holdings[0].pid, holder_pid);
  ExpectNoOverlap(holdings);
  EXPECT_FALSE(LockEventExists());
}

// More phases than any fixed table of holders would take: a holder, and seventy second phases that
// all open the event and wait on it while it is held, then go through one at a time.
TEST(InstallLock, SeventyPhasesRacingForTheLockSerialiseWithOneSetupStartEach) {
  constexpr size_t kPhases = 70;
  LibraryMachine machine;
  const std::string node = "Enum\\LPTENUM\\QUORLK44710E4E\\LPT1";
  machine.AddDeviceNode(node, "Kdr 4471");
  WriteValue(node, "ConfigFlags", REG_BINARY, std::string(4, '\0'));
  machine.PutSetupProgram("C:\\Kdr\\Setup.Exe");
  // While the shell runs, each second phase passes the gate again on the node that the last one marked.
  winsim::AddWindow("Program Manager", false);
  BackgroundRuns runs(machine);
  winsim::SetHoldBoxes(true);
  winsim::SetTrace(true);
  runs.FirstPhase(kMissingNode);
  ASSERT_TRUE(WaitUntil([] { return OpenBoxes().size() == 1; }, kBound));

  // No winsim run waits for the phases started here: a failure ends those left, before the holder goes.
  struct EndPhasesLeft {
    const LibraryMachine& machine;
    ~EndPhasesLeft() {
      if (!testing::Test::HasFailure()) return;
      for (int pid : Waiters()) {
        std::ifstream command_line("/proc/" + std::to_string(pid) + "/cmdline");
        std::string program;
        std::getline(command_line, program, '\0');
        if (program.rfind(machine.Folder().string(), 0) == 0) ::kill(pid, SIGKILL);
      }
    }
  } end_phases_left{machine};
  for (size_t i = 0; i < kPhases; ++i) {
    ASSERT_GT(WinExec(("RUNDLL32.EXE K4471PNP,StartPrinterInstallation " + node + " C:\\Kdr").c_str(), SW_SHOWNA), 31u);
  }
  ASSERT_TRUE(WaitUntil([&] { return Waiters().size() == kPhases; }, kBound)) << Waiters().size() << " wait";
  EXPECT_EQ(StartsOf("Setup.Exe").count, 0u);
  EXPECT_EQ(Boxes().size(), 1u);

  winsim::CloseAllBoxes();
  // Each phase after the first pauses a second after the release before it goes on.
  EXPECT_TRUE(WaitUntil([&] { return StartsOf("Setup.Exe").count == kPhases; }, std::chrono::seconds(600)))
      << StartsOf("Setup.Exe").count << " setup starts";
  ASSERT_TRUE(WaitUntil([] { return !LockEventExists(); }, kBound));
  EXPECT_EQ(StartsOf("Setup.Exe").count, kPhases);
  EXPECT_EQ(Boxes().size(), 1u) << "a second phase showed a box";
  const auto holdings = Holdings(Trace());
  EXPECT_EQ(holdings.size(), kPhases + 1);
  ExpectNoOverlap(holdings);
}

TEST(InstallLock, OneReleaseLetsExactlyOneOfTwoWaitersThrough) {
  LibraryMachine machine;
  BackgroundRuns runs(machine);
  winsim::SetHoldBoxes(true);
  winsim::SetTrace(true);
  const size_t holder = runs.FirstPhase(kMissingNode);
  ASSERT_TRUE(WaitUntil([] { return OpenBoxes().size() == 1; }, kBound));
  const size_t first_waiter = runs.FirstPhase(kMissingNode);
  const size_t second_waiter = runs.FirstPhase(kMissingNode);
  ASSERT_TRUE(WaitUntil([] { return Waiters().size() == 2; }, kBound));

  winsim::CloseAllBoxes();
  ASSERT_TRUE(WaitUntil([] { return OpenBoxes().size() == 1; }, kBound));
  const int through = OpenBoxes()[0].pid;
  const auto waiters = Waiters();
  const int still_waiting = waiters[0] == through ? waiters[1] : waiters[0];
  // It keeps waiting on the held event well after the other one got through.
  const int64_t seen = Trace().back().id;
  ASSERT_TRUE(WaitUntil([&] { return TimeoutsOf(still_waiting, seen) >= 2; }, kBound));
  EXPECT_EQ(OpenBoxes().size(), 1u);

  winsim::CloseAllBoxes();
  ASSERT_TRUE(WaitUntil([&] { return OpenBoxes().size() == 1 && OpenBoxes()[0].pid == still_waiting; }, kBound));
  winsim::CloseAllBoxes();
  EXPECT_EQ(runs.ExitCode(holder), 0);
  EXPECT_EQ(runs.ExitCode(first_waiter), 0);
  EXPECT_EQ(runs.ExitCode(second_waiter), 0);
  EXPECT_EQ(Holdings(Trace()).size(), 3u);
  ExpectNoOverlap(Holdings(Trace()));
  EXPECT_FALSE(LockEventExists());
}

TEST(InstallLock, ProcessesTakingItRepeatedlyNeverOverlapNorHang) {
  LibraryMachine machine;
  machine.Put(testing_support::BinPath("phase_runner.exe"), "C:\\Kdr\\PHASERUN.EXE");
  winsim::SetTrace(true);
  constexpr int kProcesses = 3;
  constexpr int kTimes = 3;
  // Every phase holds the lock until its box is closed, so the others pile up waiting.
  winsim::SetHoldBoxes(true);
  BackgroundRuns runs(machine);
  for (int i = 0; i < kProcesses; ++i) {
    runs.Start("C:\\Kdr\\PHASERUN.EXE " + std::to_string(kTimes) + " " + kMissingNode);
  }
  for (int closed = 0; closed < kProcesses * kTimes; ++closed) {
    ASSERT_TRUE(WaitUntil([] { return !OpenBoxes().empty(); }, kBound)) << closed << " boxes closed";
    const auto open = OpenBoxes();
    EXPECT_EQ(open.size(), 1u);
    winsim::CloseBox(open[0].id);
  }
  for (size_t run = 0; run < kProcesses; ++run) EXPECT_EQ(runs.ExitCode(run), 0);
  const auto holdings = Holdings(Trace());
  EXPECT_EQ(holdings.size(), static_cast<size_t>(kProcesses * kTimes));
  ExpectNoOverlap(holdings);
  EXPECT_EQ(Boxes().size(), static_cast<size_t>(kProcesses * kTimes));
  EXPECT_FALSE(LockEventExists());
}

TEST(InstallLock, AHolderKilledWhileNobodyWaitsLeavesTheLockFree) {
  LibraryMachine machine;
  BackgroundRuns runs(machine);
  winsim::SetHoldBoxes(true);
  const size_t holder = runs.FirstPhase(kMissingNode);
  ASSERT_TRUE(WaitUntil([] { return OpenBoxes().size() == 1; }, kBound));
  ASSERT_EQ(::kill(OpenBoxes()[0].pid, SIGKILL), 0);
  ASSERT_NE(runs.ExitCode(holder), -1);
  EXPECT_TRUE(WaitUntil([] { return !LockEventExists(); }, kBound));

  winsim::SetHoldBoxes(false);
  winsim::SetTrace(true);
  machine.Schedule(kMissingNode);
  for (const winsim::TraceEntry& row : Trace()) EXPECT_NE(row.call, "WaitForSingleObject");
}

// Each allocation of a phase under RunDLL32 fails in turn: the exception reaches RunDLL32, and the
// phase has given back the lock and closed its key on the way out.
struct UnwindCase {
  const char* name;
  bool shell;
  const char* export_name;
  const char* command_line;
};

TEST(InstallLock, AnAllocationFailureUnwindsToTheCallerAndGivesEverythingBack) {
  const UnwindCase cases[] = {
      {"first phase, stored", false, "SchedulePrinterInstallation", "Enum\\LPTENUM\\QUORLK44710E4E\\LPT1 C:\\Kdr"},
      {"first phase, started at once", true, "SchedulePrinterInstallation",
       "Enum\\LPTENUM\\QUORLK44710E4E\\LPT1 C:\\Kdr"},
      {"first phase, error box", false, "SchedulePrinterInstallation", kMissingNode},
      {"second phase", false, "StartPrinterInstallation", "Enum\\LPTENUM\\QUORLK44710E4E\\LPT1 C:\\Kdr"},
  };
  for (const UnwindCase& c : cases) {
    SCOPED_TRACE(c.name);
    LibraryMachine machine;
    machine.AddDeviceNode("Enum\\LPTENUM\\QUORLK44710E4E\\LPT1", "Kdr 4471");
    machine.PutSetupProgram("C:\\Kdr\\Setup.Exe");
    if (c.shell) winsim::AddWindow("Program Manager", false);
    const winsim::FaultRule no_second_phase{"WinExec", "", ERROR_FILE_NOT_FOUND, -1, 0};
    winsim::SetTrace(true);
    int failures = 0;
    for (int skip = 0; skip < 100; ++skip) {
      SCOPED_TRACE("allocation " + std::to_string(skip + 1));
      WriteValue("Enum\\LPTENUM\\QUORLK44710E4E\\LPT1", "ConfigFlags", REG_BINARY, std::string(4, '\0'));
      WriteValue(kRunKey, "Kdr 4471", REG_SZ, std::string("RunDLL32 K4471PNP,x\0", 20));
      winsim::ClearFaults();
      winsim::AddFault(no_second_phase);
      winsim::AddFault({"HeapAlloc", "", ERROR_NOT_ENOUGH_MEMORY, 1, skip});
      const int64_t before = Trace().empty() ? 0 : Trace().back().id;

      const auto run = testing_support::Winsim(
          machine.Folder(), {"run", std::string("RUNDLL32.EXE K4471PNP,") + c.export_name + " " + c.command_line});

      for (const winsim::TraceEntry& row : Trace()) {
        if (row.id > before && row.result == "left open") {
          EXPECT_EQ(row.args.find("key"), std::string::npos) << row.args;
          EXPECT_EQ(row.args.find("event"), std::string::npos) << row.args;
        }
      }
      EXPECT_FALSE(LockEventExists());
      if (run.exit_code == 0) break;
      EXPECT_EQ(run.exit_code, 3) << "RunDLL32 names an exception that left the entry";
      EXPECT_NE(run.err.find("bad_alloc"), std::string::npos) << run.err;
      ++failures;
    }
    EXPECT_GE(failures, 3) << "every allocation of the phase failed once";
  }
}

}  // namespace
}  // namespace pnp_tests
