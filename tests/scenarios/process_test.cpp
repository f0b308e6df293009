// Programs of the machine started through WinExec, CreateProcessA and winsim run, as their start-up
// sees them.
#include <windows.h>

#include <winsim/paths.h>

#include "program_record.h"
#include "run.h"
#include "temp_machine.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

namespace fs = std::filesystem;
using testing_support::BinPath;
using testing_support::ProgramRecord;
using testing_support::ReadProgramRecords;
using testing_support::TempMachine;
using testing_support::WaitUntil;
using testing_support::Winsim;

class StartedProgramTest : public ::testing::Test {
 protected:
  StartedProgramTest() {
    machine_.Put(BinPath("cmdprobe.exe"), "C:\\Program Files\\Probe\\cmdprobe.exe");
    fs::create_directories(machine_.Host("C:\\Work"));
    fs::create_directories(machine_.Host("C:\\Other"));
    winsim::ResetCurrentDirectory("C:\\Work");
  }

  // The record of the one run of the probe, once it is there.
  ProgramRecord OnlyRecord() {
    const fs::path folder = machine_.Folder() / "cmdprobe";
    std::vector<ProgramRecord> records;
    EXPECT_TRUE(WaitUntil([&] { return !(records = ReadProgramRecords(folder)).empty(); }));
    EXPECT_EQ(records.size(), 1u);
    fs::remove_all(folder);
    return records.empty() ? ProgramRecord{} : records.front();
  }

  TempMachine machine_;
};

TEST_F(StartedProgramTest, WinExecHandsTheProgramItsCommandTailShowStateAndDirectory) {
  const std::string padding(10000, 'x');
  struct Case {
    std::string command_line;
    UINT show;
    std::string program, tail;
  } cases[] = {
      {"\"C:\\Program Files\\Probe\\cmdprobe.exe\" /f2 SETUP.EXE", SW_SHOWMINIMIZED, "cmdprobe.exe", "/f2 SETUP.EXE"},
      // Found at the last blank; the start-up still ends the name at the first one, as Windows' does.
      {"C:\\Program Files\\Probe\\cmdprobe /f2", SW_SHOW, "cmdprobe.exe", "Files\\Probe\\cmdprobe /f2"},
      {"\"C:\\Program Files\\Probe\\cmdprobe.exe\" " + padding, SW_HIDE, "cmdprobe.exe", padding},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command_line.substr(0, 60));
    ASSERT_GT(WinExec(c.command_line.c_str(), c.show), 31u);
    ProgramRecord record = OnlyRecord();
    EXPECT_EQ(record["program"], c.program);
    EXPECT_EQ(record["cmdline"], c.command_line);
    EXPECT_EQ(record["tail"], c.tail);
    EXPECT_EQ(record["show"], std::to_string(c.show));
    EXPECT_EQ(record["cwd"], "C:\\Work");
    EXPECT_EQ(record["machine"], machine_.Folder().string());
  }
}

TEST_F(StartedProgramTest, AnUnquotedNameWithBlanksStartsTheShortestProgramThatExists) {
  machine_.Put(BinPath("cmdprobe.exe"), "C:\\Program.exe");
  ASSERT_GT(WinExec("C:\\Program Files\\Probe\\cmdprobe.exe /q", SW_SHOW), 31u);
  EXPECT_EQ(OnlyRecord()["program"], "Program.exe");
}

TEST_F(StartedProgramTest, CreateProcessHandsTheDefaultShowStateAndTheDirectoryAsked) {
  char line[] = "cmdprobe /x";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  ASSERT_TRUE(CreateProcessA("C:\\Program Files\\Probe\\cmdprobe.exe", line, nullptr, nullptr, FALSE, 0, nullptr,
                             "C:\\Other", &startup, &info));
  ProgramRecord record = OnlyRecord();
  EXPECT_EQ(record["pid"], std::to_string(info.dwProcessId));
  EXPECT_EQ(record["tail"], "/x");
  EXPECT_EQ(record["show"], std::to_string(SW_SHOWDEFAULT));
  EXPECT_EQ(record["cwd"], "C:\\Other");
}

TEST(WinsimRun, StartsTheProgramWaitsAndPassesItsExitCodeOn) {
  TempMachine machine;
  machine.Write("C:\\Contract\\Dir\\PROG.EXE", "#!/bin/sh\nexit 3\n");
  fs::permissions(machine.Host("C:\\Contract\\Dir\\PROG.EXE"), fs::perms::owner_exec, fs::perm_options::add);
  machine.Write("C:\\Contract\\notes.txt", "not a program\n");
  struct Case {
    std::vector<std::string> args;
    int exit_code;
  } cases[] = {
      {{"run", "C:\\Contract\\Dir\\PROG.EXE"}, 3}, {{"run", "c:\\contract\\dir\\prog", "/x"}, 3},
      {{"run", "C:\\Contract\\Nothere.exe"}, 127}, {{"run", "C:\\Nowhere\\PROG.EXE"}, 127},
      {{"run", "C:\\Contract\\notes.txt"}, 126},   {{"run"}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    testing_support::RunResult result = Winsim(machine.Folder(), c.args);
    EXPECT_EQ(result.exit_code, c.exit_code);
    const auto lines = std::count(result.err.begin(), result.err.end(), '\n');
    EXPECT_EQ(lines, c.exit_code == 3   ? 0
                     : c.exit_code == 2 ? 3
                                        : 1)
        << result.err;  // usage: the error, "usage:", the form
  }
}

TEST_F(StartedProgramTest, WinsimRunJoinsItsWordsIntoOneCommandLine) {
  testing_support::RunResult result =
      Winsim(machine_.Folder(), {"run", "C:\\Program Files\\Probe\\cmdprobe.exe", "/f2", "a b"});
  EXPECT_EQ(result.exit_code, 0) << result.err;
  ProgramRecord record = OnlyRecord();
  EXPECT_EQ(record["cmdline"], "C:\\Program Files\\Probe\\cmdprobe.exe /f2 a b");
  EXPECT_EQ(record["show"], std::to_string(SW_SHOWNORMAL));
  EXPECT_EQ(record["cwd"], "C:\\");
}

}  // namespace
