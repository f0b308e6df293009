// The deferred installation end to end, with real processes: RunDLL32 runs the phases as the
// printer installation, the shell and the deferred command start them, and the stand-in setup
// program records where and how it was started.
#include <gtest/gtest.h>

#include <functional>
#include <future>

#include <winsim/call.h>
#include <winsim/windows_table.h>

#include "library_machine.h"
#include "run.h"

namespace pnp_tests {
namespace {

using testing_support::RunResult;
using testing_support::WaitUntil;
using testing_support::Winsim;

constexpr auto kBound = std::chrono::seconds(60);
constexpr char kNode[] = "Enum\\LPTENUM\\QUORLK44710E4E\\LPT1";
constexpr char kModel[] = "Kdr 4471 PCL6";

RunResult RunPhase(const TempMachine& machine, const std::string& export_name, const std::string& command_line) {
  return Winsim(machine.Folder(), {"run", "RUNDLL32.EXE K4471PNP," + export_name + " " + command_line});
}

// The lock is free again once every phase that was started has given it back.
bool PhasesDone() { return !LockEventExists(); }

TEST(Installation, WhileTheShellRunsTheSecondPhaseStartsAtOnceAfterTheFirstReturns) {
  LibraryMachine machine;
  machine.AddDeviceNode(kNode, kModel);
  machine.PutSetupProgram("C:\\Program Files\\Kdr\\Setup.Exe");
  ASSERT_EQ(Winsim(machine.Folder(), {"shell", "start"}).exit_code, 0);
  winsim::SetTrace(true);

  ASSERT_EQ(RunPhase(machine, "SchedulePrinterInstallation", std::string(kNode) + " C:\\Program Files\\Kdr").exit_code,
            0);
  ASSERT_TRUE(WaitUntil([] { return StartsOf("Setup.Exe").count == 1; }, kBound));
  ASSERT_TRUE(WaitUntil(PhasesDone, kBound));

  const SetupStarts starts = StartsOf("Setup.Exe");
  EXPECT_EQ(starts.count, 1u);
  EXPECT_EQ(starts.command_line, "\"C:\\Program Files\\Kdr\\Setup.Exe\"");
  EXPECT_EQ(starts.current_directory, "C:\\Program Files\\Kdr");
  EXPECT_EQ(ReadValue(kNode, "ConfigFlags"), kConfigFlagsMark);
  EXPECT_FALSE(ReadValue(kRunKey, kModel).has_value());
  EXPECT_TRUE(Boxes().empty());

  // The first phase gave the lock back before the second took it, and started it while holding it.
  int first_pid = 0, second_pid = 0;
  int64_t first_taken = 0, started = 0, first_released = 0, second_taken = 0, second_opened = 0;
  for (const winsim::TraceEntry& row : Trace()) {
    const bool lock_event = row.args.find(kLockName) != std::string::npos;
    if (row.call == "CreateEventA" && lock_event && !first_pid) first_taken = row.id;
    if (row.call == "WinExec") first_pid = row.pid, started = row.id;
    if (row.call == "SetEvent" && row.pid == first_pid) first_released = row.id;
    if (row.call == "CreateEventA" && lock_event && first_pid && row.pid != first_pid) second_taken = row.id;
    if (row.call == "RegOpenKeyA" && first_pid && row.pid != first_pid && !second_pid) {
      second_pid = row.pid, second_opened = row.id;
    }
  }
  ASSERT_TRUE(first_taken && started && first_released && second_taken && second_opened)
      << "the trace lacks a call of the lock or of the phases";
  EXPECT_LT(first_taken, started);
  EXPECT_LT(started, first_released);
  EXPECT_LT(first_released, second_taken);
  EXPECT_LT(second_taken, second_opened);
}

// The second phase that the first starts at once comes up while the first still holds the lock (here
// a second call of the first phase in the same process, kept by its error box): it waits, and
// touches nothing until the box is closed.
TEST(Installation, TheSecondPhaseStartedAtOnceWaitsWhileAFirstPhaseHoldsTheLock) {
  LibraryMachine machine;
  BackgroundRuns runs(machine);  // lets the held box go at the end, whatever happened
  machine.AddDeviceNode(kNode, kModel);
  machine.PutSetupProgram("C:\\Kdr\\Setup.Exe");
  winsim::AddWindow("Program Manager", false);
  // The second call's start fails and its Run value cannot be written: it shows its box.
  winsim::AddFault({"WinExec", "", ERROR_FILE_NOT_FOUND, 1, 1});
  winsim::AddFault({"RegSetValueExA", kModel, ERROR_ACCESS_DENIED, 1, 0});
  winsim::SetHoldBoxes(true);
  winsim::SetTrace(true);
  const std::string line = std::string(kNode) + " C:\\Kdr";
  auto phases = std::async(std::launch::async, [&] {
    machine.Schedule(line.c_str());
    machine.Schedule(line.c_str());
  });
  ASSERT_TRUE(WaitUntil([] { return Boxes().size() == 1; }, kBound));
  auto second_phase_waits = [] {
    for (const winsim::TraceEntry& row : Trace()) {
      if (row.pid != static_cast<int>(GetCurrentProcessId()) && row.call == "WaitForSingleObject" &&
          row.result == "258")
        return true;
    }
    return false;
  };
  ASSERT_TRUE(WaitUntil(second_phase_waits, kBound)) << "the second phase never waited";
  EXPECT_EQ(StartsOf("Setup.Exe").count, 0u);
  EXPECT_EQ(ReadValue(kNode, "ConfigFlags"), kConfigFlagsMark);

  winsim::CloseAllBoxes();
  phases.get();
  EXPECT_TRUE(WaitUntil([] { return StartsOf("Setup.Exe").count == 1; }, kBound));
  EXPECT_TRUE(WaitUntil(PhasesDone, kBound));
  EXPECT_EQ(Boxes().size(), 1u);
}

TEST(Installation, WithoutTheShellTheRunValueWaitsForTheShellsNextStart) {
  LibraryMachine machine;
  machine.AddDeviceNode("Enum\\LPTENUM\\QUORLK44710E4E\\LPT1", kModel);
  machine.AddDeviceNode("Enum\\LPTENUM\\QUORLK44710E4E\\LPT2", kModel);
  machine.PutSetupProgram("C:\\Kdr\\First\\Setup.Exe");
  machine.PutSetupProgram("C:\\Kdr\\Second\\Setup.Exe");
  const std::string first = "Enum\\LPTENUM\\QUORLK44710E4E\\LPT1 C:\\Kdr\\First";
  const std::string second = "Enum\\LPTENUM\\QUORLK44710E4E\\LPT2 C:\\Kdr\\Second\\";

  ASSERT_EQ(RunPhase(machine, "SchedulePrinterInstallation", first).exit_code, 0);
  EXPECT_EQ(ReadValue(kRunKey, kModel), Sz("RunDLL32 K4471PNP,StartPrinterInstallation " + first));
  // A second printer of the same model takes over the value.
  ASSERT_EQ(RunPhase(machine, "SchedulePrinterInstallation", second).exit_code, 0);
  EXPECT_EQ(ReadValue(kRunKey, kModel), Sz("RunDLL32 K4471PNP,StartPrinterInstallation " + second));
  EXPECT_EQ(StartsOf("Setup.Exe").count, 0u);

  ASSERT_EQ(Winsim(machine.Folder(), {"shell", "start", "--wait"}).exit_code, 0);
  ASSERT_TRUE(WaitUntil([] { return StartsOf("Setup.Exe").count == 1; }, kBound));
  ASSERT_TRUE(WaitUntil(PhasesDone, kBound));
  EXPECT_EQ(StartsOf("Setup.Exe").command_line, "\"C:\\Kdr\\Second\\SETUP.EXE\"");
  EXPECT_FALSE(ReadValue(kRunKey, kModel).has_value());
  EXPECT_EQ(ReadValue("Enum\\LPTENUM\\QUORLK44710E4E\\LPT2", "ConfigFlags"), kConfigFlagsMark);
  EXPECT_TRUE(Boxes().empty());
}

// The stand-in setup program under several names: whichever is started says so.
struct PathCase {
  const char* name;
  const char* command_line;
  std::vector<const char*> programs;  // the stand-in is put under each of these
  const char* started;                // its file name, whose start is expected (exactly one)
  const char* started_as;             // the command line it got
  const char* directory;              // its current directory, or null to leave unchecked
};

TEST(Installation, TheSetupProgramIsFoundInTheInstallationFolderAndNowhereElse) {
  const PathCase cases[] = {
      {"folder without trailing backslash",
       "Enum\\LPTENUM\\QUORLK44710E4E\\LPT1 C:\\Kdr",
       {"C:\\Kdr\\Setup.Exe"},
       "Setup.Exe",
       "\"C:\\Kdr\\Setup.Exe\"",
       "C:\\Kdr"},
      {"folder with trailing backslash",
       "Enum\\LPTENUM\\QUORLK44710E4E\\LPT1 C:\\Kdr\\",
       {"C:\\Kdr\\SETUP.EXE"},
       "SETUP.EXE",
       "\"C:\\Kdr\\SETUP.EXE\"",
       nullptr},
      {"folder with blanks, programs where an unquoted path would find them",
       "Enum\\LPTENUM\\QUORLK44710E4E\\LPT1 C:\\Program Files\\Kdr Setup",
       {"C:\\Program Files\\Kdr Setup\\Setup.Exe", "C:\\Program.exe", "C:\\Program Files\\Kdr.exe"},
       "Setup.Exe",
       "\"C:\\Program Files\\Kdr Setup\\Setup.Exe\"",
       "C:\\Program Files\\Kdr Setup"},
      {"no folder: the root of the current drive",
       "Enum\\LPTENUM\\QUORLK44710E4E\\LPT1",
       {"C:\\Setup.Exe"},
       "Setup.Exe",
       "\"\\Setup.Exe\"",
       nullptr},
  };
  for (const PathCase& c : cases) {
    SCOPED_TRACE(c.name);
    LibraryMachine machine;
    machine.AddDeviceNode(kNode, kModel);
    for (const char* program : c.programs) machine.PutSetupProgram(program);
    ASSERT_EQ(Winsim(machine.Folder(), {"shell", "start"}).exit_code, 0);

    ASSERT_EQ(RunPhase(machine, "SchedulePrinterInstallation", c.command_line).exit_code, 0);
    ASSERT_TRUE(WaitUntil([&] { return StartsOf(c.started).count == 1; }, kBound));
    ASSERT_TRUE(WaitUntil(PhasesDone, kBound));

    EXPECT_EQ(StartsOf(c.started).command_line, c.started_as);
    if (c.directory) {
      EXPECT_EQ(StartsOf(c.started).current_directory, c.directory);
    }
    EXPECT_EQ(StartsOf("Program.exe").count, 0u);
    EXPECT_EQ(StartsOf("Kdr.exe").count, 0u);
    EXPECT_TRUE(Boxes().empty());
  }
}

// What each phase shows when it fails, and what it leaves on the machine.
struct BoxCase {
  const char* name;
  const char* export_name;
  std::function<void(const LibraryMachine&)> prepare;
  const char* text;  // null: no box
  const char* caption;
  bool config_flags_after;
  bool run_value_after;
  DWORD setup_starts;
};

const char kNoModel[] = "No printer Model name in DevNode?";
const char kNotRegistered[] = "Failed to register second phase in Shell's section of the registry.";
const char kCorrupted[] = "Corrupted DevNode or Failure to clean up Shell section of the registry.";
const char kNotStarted[] = "Failed to start the setup program from the installation directory.";
const char kFirstCaption[] = "Internal Failure in Kdr_Install!";
const char kSecondCaption[] = "Internal Failure in Delayed_Kdr_Install!";

void Node(const LibraryMachine& machine) { machine.AddDeviceNode(kNode, kModel); }
void Mark(const LibraryMachine&) { WriteValue(kNode, "ConfigFlags", REG_BINARY, std::string(4, '\0')); }
void RunValue(const LibraryMachine&) {
  WriteValue(kRunKey, kModel, REG_SZ, Sz(std::string("RunDLL32 K4471PNP,StartPrinterInstallation ") + kNode).data);
}
void PutSetup(const LibraryMachine& machine) { machine.PutSetupProgram("C:\\Kdr\\Setup.Exe"); }
void Prepared(const LibraryMachine& machine) {
  Node(machine);
  Mark(machine);
  RunValue(machine);
}

TEST(Installation, EachFailureShowsOneErrorBoxAndKeepsWhatWasDone) {
  const BoxCase cases[] = {
      {"first phase, no device node", "SchedulePrinterInstallation", [](auto&) {}, kNoModel, kFirstCaption, false,
       false, 0},
      {"first phase, model of another type", "SchedulePrinterInstallation",
       [](auto&) { WriteValue(kNode, "Model", REG_EXPAND_SZ, std::string("Kdr\0", 4)); }, kNoModel, kFirstCaption,
       false, false, 0},
      {"first phase, Run key refused", "SchedulePrinterInstallation",
       [](auto& m) {
         Node(m);
         winsim::AddFault({"RegCreateKeyA", "CurrentVersion", ERROR_ACCESS_DENIED, -1, 0});
       },
       kNotRegistered, kFirstCaption, true, false, 0},
      {"second phase, node never marked", "StartPrinterInstallation",
       [](auto& m) {
         Node(m);
         RunValue(m);
       },
       kCorrupted, kSecondCaption, false, true, 0},
      {"second phase, no model", "StartPrinterInstallation",
       [](auto& m) {
         Mark(m);
         RunValue(m);
       },
       kCorrupted, kSecondCaption, true, true, 0},
      {"second phase, no Run value and no shell", "StartPrinterInstallation",
       [](auto& m) {
         Node(m);
         Mark(m);
       },
       kCorrupted, kSecondCaption, false, false, 0},
      {"second phase, no setup program", "StartPrinterInstallation", Prepared, kNotStarted, kSecondCaption, true, false,
       0},
      {"second phase, setup program starts at the third try", "StartPrinterInstallation",
       [](auto& m) {
         Prepared(m);
         PutSetup(m);
         winsim::AddFault({"CreateProcessA", "", ERROR_NOT_ENOUGH_MEMORY, 2, 0});
       },
       nullptr, nullptr, true, false, 1},
      {"second phase, setup program never starts", "StartPrinterInstallation",
       [](auto& m) {
         Prepared(m);
         PutSetup(m);
         winsim::AddFault({"CreateProcessA", "", ERROR_NOT_ENOUGH_MEMORY, -1, 0});
       },
       kNotStarted, kSecondCaption, true, false, 0},
  };
  for (const BoxCase& c : cases) {
    SCOPED_TRACE(c.name);
    LibraryMachine machine;
    c.prepare(machine);

    ASSERT_EQ(RunPhase(machine, c.export_name, std::string(kNode) + " C:\\Kdr").exit_code, 0);

    auto boxes = Boxes();
    if (c.text) {
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].text, c.text);
      EXPECT_EQ(boxes[0].caption, c.caption);
      EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONERROR));
    } else {
      EXPECT_TRUE(boxes.empty());
    }
    EXPECT_EQ(ReadValue(kNode, "ConfigFlags").has_value(), c.config_flags_after);
    EXPECT_EQ(ReadValue(kRunKey, kModel).has_value(), c.run_value_after);
    if (c.setup_starts) {
      EXPECT_TRUE(WaitUntil([] { return StartsOf("Setup.Exe").count == 1; }, kBound));
    }
    EXPECT_EQ(StartsOf("Setup.Exe").count, c.setup_starts);
    EXPECT_FALSE(LockEventExists());
  }
}

TEST(Installation, AnErrorBoxOfTheFirstPhaseKeepsTheSecondWaitingUntilItIsClosed) {
  LibraryMachine machine;
  BackgroundRuns runs(machine);
  Prepared(machine);
  PutSetup(machine);
  winsim::SetHoldBoxes(true);
  winsim::SetTrace(true);
  const size_t first = runs.FirstPhase("Enum\\Missing C:\\Kdr");
  ASSERT_TRUE(WaitUntil([] { return Boxes().size() == 1; }, kBound));
  const int first_pid = Boxes()[0].pid;
  const size_t second = runs.SecondPhase(std::string(kNode) + " C:\\Kdr");
  // The second phase waits a few slices, looking at its messages between them, and touches nothing.
  auto slices = [&] {
    int timeouts = 0, peeks = 0;
    for (const winsim::TraceEntry& row : Trace()) {
      if (row.pid == first_pid) continue;
      timeouts += row.call == "WaitForSingleObject" && row.result == "258";
      peeks += row.call == "PeekMessageA";
    }
    return std::make_pair(timeouts, peeks);
  };
  ASSERT_TRUE(WaitUntil([&] { return slices().first >= 3; }, kBound));
  EXPECT_GE(slices().second, 2);
  EXPECT_EQ(StartsOf("Setup.Exe").count, 0u);
  EXPECT_TRUE(ReadValue(kRunKey, kModel).has_value());
  EXPECT_EQ(Boxes().size(), 1u);

  winsim::CloseAllBoxes();
  EXPECT_TRUE(WaitUntil([] { return StartsOf("Setup.Exe").count == 1; }, kBound));
  EXPECT_EQ(runs.ExitCode(first), 0);
  EXPECT_EQ(runs.ExitCode(second), 0);
  EXPECT_FALSE(ReadValue(kRunKey, kModel).has_value());
}

}  // namespace
}  // namespace pnp_tests
