// The deferred command in this process: the shell-running test, and the second phase's removal of
// the Run value.
#include <gtest/gtest.h>

#include <winsim/call.h>
#include <winsim/machine.h>
#include <winsim/windows_table.h>

#include "library_machine.h"
#include "run.h"

namespace pnp_tests {
namespace {

constexpr char kNode[] = "Enum\\LPTENUM\\QUORLK44710E4E\\LPT1";
constexpr char kCommandLine[] = "Enum\\LPTENUM\\QUORLK44710E4E\\LPT1 C:\\Kdr";
constexpr char kModel[] = "Kdr 4471";

// Keeps WinExec from starting anything: the calls stay in the trace.
void RefuseWinExec() { winsim::AddFault({"WinExec", "", ERROR_FILE_NOT_FOUND, -1, 0}); }

// RunDLL32 replaced by the stand-in setup program: a start of the deferred command succeeds and only
// records itself under "RUNDLL32.EXE".
void StandInRunDll32(const LibraryMachine& machine) {
  machine.PutSetupProgram(winsim::CurrentMachine().Settings().windows_dir + "\\RUNDLL32.EXE");
}
bool StandInStarted(DWORD times) {
  return testing_support::WaitUntil([&] { return StartsOf("RUNDLL32.EXE").count == times; });
}

int CallsOf(const char* call) {
  int count = 0;
  for (const winsim::TraceEntry& row : Trace()) count += row.call.rfind(call, 0) == 0;
  return count;
}

struct ShellCase {
  const char* name;
  std::vector<const char*> captions;  // top-level windows, oldest first
  bool shell_found;
};

TEST(DeferredCommand, OnlyAWindowCaptionedExactlyProgramManagerIsTheShell) {
  const ShellCase cases[] = {
      {"no windows", {}, false},
      {"the shell", {"Program Manager"}, true},
      {"other letter case", {"program manager"}, false},
      {"trailing blank", {"Program Manager "}, false},
      {"leading blank", {" Program Manager"}, false},
      {"a prefix of it", {"Program Manage"}, false},
      {"among windows with and without captions", {"", "Printers", "Program Manager", ""}, true},
  };
  for (const ShellCase& c : cases) {
    SCOPED_TRACE(c.name);
    LibraryMachine machine;
    machine.AddDeviceNode(kNode, kModel);
    for (const char* caption : c.captions) winsim::AddWindow(caption, false);
    StandInRunDll32(machine);
    winsim::SetTrace(true);

    machine.Schedule(kCommandLine);

    EXPECT_EQ(ReadValue(kRunKey, kModel).has_value(), !c.shell_found);
    EXPECT_EQ(CallsOf("WinExec"), c.shell_found ? 1 : 0);
    EXPECT_TRUE(StandInStarted(c.shell_found ? 1 : 0));
    EXPECT_TRUE(Boxes().empty());
  }
}

TEST(DeferredCommand, StartsTheCommandThroughRunDll32WithoutActivatingIt) {
  LibraryMachine machine;
  machine.AddDeviceNode(kNode, kModel);
  winsim::AddWindow("Program Manager", false);
  RefuseWinExec();
  winsim::SetTrace(true);
  machine.Schedule(kCommandLine);
  std::vector<std::string> started;
  for (const winsim::TraceEntry& row : Trace()) {
    if (row.call.rfind("WinExec", 0) == 0) started.push_back(row.args);
  }
  EXPECT_EQ(started, std::vector<std::string>{
                         "\"RunDLL32 K4471PNP,StartPrinterInstallation Enum\\\\LPTENUM\\\\QUORLK44710E4E\\\\LPT1 "
                         "C:\\\\Kdr\", 8"});
}

TEST(DeferredCommand, OnceFoundTheShellCountsAsRunningForTheLifeOfTheLibrary) {
  LibraryMachine machine;
  machine.AddDeviceNode(kNode, kModel);
  StandInRunDll32(machine);
  winsim::SetTrace(true);

  machine.Schedule(kCommandLine);  // no shell yet: stored
  EXPECT_TRUE(ReadValue(kRunKey, kModel).has_value());
  WriteValue(kRunKey, kModel, REG_SZ, "");
  HWND shell = winsim::AddWindow("Program Manager", false);
  machine.Schedule(kCommandLine);  // looked for again, and found
  winsim::RemoveWindow(shell);
  machine.Schedule(kCommandLine);  // not looked for any more

  EXPECT_EQ(CallsOf("EnumWindows"), 2);
  EXPECT_EQ(CallsOf("WinExec"), 2);
  EXPECT_TRUE(StandInStarted(2));
  EXPECT_EQ(ReadValue(kRunKey, kModel), (RegValue{REG_SZ, ""})) << "the value stored first was left alone";
}

struct GateCase {
  const char* name;
  bool run_value;
  bool shell;
  bool passes;
};

TEST(DeferredCommand, SecondPhaseRemovesTheRunValueAndPassesWithoutOneOnlyWhileTheShellRuns) {
  const GateCase cases[] = {
      {"value, no shell", true, false, true},
      {"value, shell", true, true, true},
      {"no value, shell", false, true, true},
      {"no value, no shell", false, false, false},
  };
  for (const GateCase& c : cases) {
    SCOPED_TRACE(c.name);
    LibraryMachine machine;
    machine.AddDeviceNode(kNode, kModel);
    machine.PutSetupProgram("C:\\Kdr\\Setup.Exe");
    WriteValue(kNode, "ConfigFlags", REG_BINARY, std::string(4, '\0'));
    if (c.run_value) WriteValue(kRunKey, kModel, REG_SZ, std::string("RunDLL32 K4471PNP,x\0", 20));
    if (c.shell) winsim::AddWindow("Program Manager", false);

    machine.Start(kCommandLine);

    EXPECT_FALSE(ReadValue(kRunKey, kModel).has_value());
    EXPECT_EQ(ReadValue(kNode, "ConfigFlags").has_value(), c.passes);
    if (c.passes) {
      EXPECT_TRUE(Boxes().empty());
      EXPECT_TRUE(testing_support::WaitUntil([] { return StartsOf("Setup.Exe").count == 1; }));
    } else {
      ASSERT_EQ(Boxes().size(), 1u);
      EXPECT_EQ(Boxes()[0].text, "Corrupted DevNode or Failure to clean up Shell section of the registry.");
      EXPECT_EQ(StartsOf("Setup.Exe").count, 0u);
    }
    EXPECT_EQ(OpenHandlesBesides(machine.Library()), std::vector<std::string>());
  }
}

TEST(DeferredCommand, SecondPhaseCalledWithANullCommandLineReadsItAsEmpty) {
  LibraryMachine machine;
  machine.AddDeviceNode(kNode, kModel);
  WriteValue(kNode, "ConfigFlags", REG_BINARY, std::string(4, '\0'));
  const std::string before = RegistryText(machine);
  machine.Start(nullptr);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].text, "Corrupted DevNode or Failure to clean up Shell section of the registry.");
  EXPECT_EQ(RegistryText(machine), before);
}

}  // namespace
}  // namespace pnp_tests
