#include <windows.h>

#include <winsim/handles.h>
#include <winsim/paths.h>
#include <winsim/process.h>

#include "program_record.h"
#include "run.h"
#include "temp_machine.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using testing_support::ProgramRecord;
using testing_support::ReadProgramRecords;
using testing_support::TempMachine;
using testing_support::WaitUntil;

// Records what the layer handed it in MACHINE/runs, then exits with 7.
constexpr const char* kRecordScript = R"sh(#!/bin/sh
out="$WINSIM_MACHINE/runs/$$"
mkdir -p "$WINSIM_MACHINE/runs"
{
  echo "pid=$$"
  printf 'cmdline=%s\n' "$WINSIM_CMDLINE"
  printf 'cwd=%s\n' "$WINSIM_CWD"
  printf 'image=%s\n' "$WINSIM_IMAGE"
  printf 'show=%s\n' "${WINSIM_SHOW-none}"
  printf 'machine=%s\n' "$WINSIM_MACHINE"
  printf 'folder=%s\n' "$(pwd -P)"
  printf 'fds='; for f in /proc/$$/fd/*; do printf '%s;' "$(readlink "$f")"; done; echo
} >"$out.part"
mv "$out.part" "$out"
exit 7
)sh";

class ProcessTest : public ::testing::Test {
 protected:
  ProcessTest() {
    Put("C:\\Bin\\record.exe", kRecordScript);
    Put("C:\\Bin\\die.exe", "#!/bin/sh\nkill -KILL $$\n");
    Put("C:\\Bin\\wait.exe", "#!/bin/sh\nwhile [ ! -e \"$WINSIM_MACHINE/go\" ]; do sleep 0.01; done\n");
    Put("C:\\Bin\\badinterp.exe", "#!/no/such/interpreter\n");
    machine_.Write("C:\\Bin\\text.txt", "just text\n");
    fs::create_directories(machine_.Host("C:\\Bin\\Folder.exe"));
    fs::create_directories(machine_.Host("C:\\Work"));
    fs::create_directories(machine_.Host("C:\\Other Dir"));
    winsim::ResetCurrentDirectory("C:\\Work");
  }

  void Put(const char* windows_path, const char* content) {
    machine_.Write(windows_path, content);
    fs::permissions(machine_.Host(windows_path), fs::perms::owner_exec, fs::perm_options::add);
  }

  // The one record that the started programs left, once it is there.
  ProgramRecord OnlyRecord() {
    std::vector<ProgramRecord> records;
    EXPECT_TRUE(WaitUntil([&] { return !(records = ReadProgramRecords(machine_.Folder() / "runs")).empty(); }));
    EXPECT_EQ(records.size(), 1u);
    return records.empty() ? ProgramRecord{} : records.front();
  }

  void ClearRecords() { fs::remove_all(machine_.Folder() / "runs"); }

  TempMachine machine_;
};

// True when this process has a child, ended or not.
bool HaveChild() {
  siginfo_t info{};
  return ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0;
}

TEST_F(ProcessTest, HandsTheProgramItsCommandLineDirectoryImageShowStateAndMachine) {
  struct Case {
    std::string command_line;
    std::string current_directory;
    bool use_show;
    std::string cwd, image, show;
  } cases[] = {
      {"C:\\Bin\\record.exe /f2 SETUP.EXE", "", false, "C:\\Work", "C:\\Bin\\record.exe", "none"},
      {"c:\\bin\\RECORD", "C:\\Other Dir", true, "C:\\Other Dir", "C:\\bin\\RECORD.exe", "2"},
  };
  // A descriptor of the starter that is not closed on exec must not reach the program.
  const fs::path marker = machine_.Folder() / "starter-only";
  const int fd = ::open(marker.c_str(), O_RDONLY | O_CREAT, 0600);
  ASSERT_GE(fd, 3);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command_line);
    winsim::StartRequest request;
    request.command_line = c.command_line;
    request.current_directory = c.current_directory;
    request.show = SW_SHOWMINIMIZED;
    request.use_show = c.use_show;
    request.wait_later = true;
    winsim::StartedProgram started;
    ASSERT_EQ(winsim::StartProgram(request, &started), ERROR_SUCCESS);
    EXPECT_EQ(started.image, c.image);
    EXPECT_EQ(winsim::WaitProgram(started), 7);
    ProgramRecord record = OnlyRecord();
    EXPECT_EQ(record["pid"], std::to_string(started.id.pid));
    EXPECT_EQ(record["cmdline"], c.command_line);
    EXPECT_EQ(record["cwd"], c.cwd);
    EXPECT_EQ(record["image"], c.image);
    EXPECT_EQ(record["show"], c.show);
    EXPECT_EQ(record["machine"], machine_.Folder().string());
    EXPECT_EQ(record["folder"], fs::canonical(machine_.Host(c.cwd)).string());
    EXPECT_EQ(record["fds"].find(marker.string()), std::string::npos) << record["fds"];
    ClearRecords();
  }
  ::close(fd);
}

TEST_F(ProcessTest, WaitGivesTheExitCodeOr128PlusTheSignal) {
  for (auto [program, code] : {std::pair{"C:\\Bin\\record.exe", 7}, {"C:\\Bin\\die.exe", 128 + SIGKILL}}) {
    SCOPED_TRACE(program);
    winsim::StartRequest request;
    request.command_line = program;
    request.wait_later = true;
    winsim::StartedProgram started;
    ASSERT_EQ(winsim::StartProgram(request, &started), ERROR_SUCCESS);
    EXPECT_EQ(winsim::WaitProgram(started), code);
  }
  EXPECT_FALSE(HaveChild());
}

TEST_F(ProcessTest, AProgramNotToBeWaitedForIsNoChildOfTheStarter) {
  winsim::StartRequest request;
  request.command_line = "C:\\Bin\\record.exe";
  winsim::StartedProgram started;
  ASSERT_EQ(winsim::StartProgram(request, &started), ERROR_SUCCESS);
  EXPECT_EQ(OnlyRecord()["pid"], std::to_string(started.id.pid));
  // Neither running nor ended is it this process's: no zombie of it can stay behind here.
  EXPECT_FALSE(HaveChild());
}

TEST_F(ProcessTest, AProgramThatFailsToStartIsReportedAndLeavesNothingBehind) {
  for (bool wait_later : {true, false}) {
    SCOPED_TRACE(wait_later ? "to be waited for" : "not to be waited for");
    winsim::StartRequest request;
    request.command_line = "C:\\Bin\\badinterp.exe";
    request.wait_later = wait_later;
    winsim::StartedProgram started;
    started.id.pid = 0x5eed;
    EXPECT_EQ(winsim::StartProgram(request, &started), ERROR_BAD_FORMAT);
    EXPECT_EQ(started.id.pid, 0x5eed);
    EXPECT_FALSE(HaveChild());
  }
}

TEST_F(ProcessTest, RefusesACommandLineLongerThanWindowsAllows) {
  for (size_t size : {winsim::kMaxCommandLine, winsim::kMaxCommandLine + 1}) {
    SCOPED_TRACE(size);
    winsim::StartRequest request;
    request.command_line = "C:\\Bin\\record.exe ";
    request.command_line.resize(size, 'x');
    request.wait_later = true;
    winsim::StartedProgram started;
    const DWORD error = winsim::StartProgram(request, &started);
    if (size > winsim::kMaxCommandLine) {
      EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
      continue;
    }
    ASSERT_EQ(error, ERROR_SUCCESS);
    EXPECT_EQ(winsim::WaitProgram(started), 7);
    EXPECT_EQ(OnlyRecord()["cmdline"], request.command_line);
  }
}

TEST_F(ProcessTest, WinExecReturnsAbove31OrTheErrorCode) {
  struct Case {
    std::string command_line;
    UINT result;  // 33: started
    DWORD error;
  } cases[] = {
      {"C:\\Bin\\record.exe /f2", 33, 0},
      {"C:\\Bin\\nothere.exe", ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND},
      {"C:\\Nowhere\\record.exe", ERROR_PATH_NOT_FOUND, ERROR_PATH_NOT_FOUND},
      {"C:\\Bin\\Folder.exe", ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
      {"C:\\Bin\\text.txt", ERROR_BAD_FORMAT, ERROR_BAD_FORMAT},
      {"C:\\Bin\\badinterp.exe", ERROR_BAD_FORMAT, ERROR_BAD_FORMAT},
      // Codes above 31 would read as success: WinExec says 0, out of resources.
      {"C:\\Bin\\record.exe " + std::string(winsim::kMaxCommandLine, 'x'), 0, ERROR_FILENAME_EXCED_RANGE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command_line.substr(0, 40));
    SetLastError(0xdeadbeef);
    const UINT result = WinExec(c.command_line.c_str(), SW_SHOWMINIMIZED);
    if (c.result > 31) {
      EXPECT_GT(result, 31u);
      EXPECT_EQ(OnlyRecord()["show"], "2");
      ClearRecords();
    } else {
      EXPECT_EQ(result, c.result);
      EXPECT_EQ(GetLastError(), c.error);
    }
  }
  SetLastError(0xdeadbeef);
  EXPECT_EQ(WinExec(nullptr, SW_SHOW), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(ProcessTest, CreateProcessFillsTheProcessInformation) {
  struct Case {
    const char* application;
    const char* command_line;
    const char* directory;
    DWORD flags;
    std::string cmdline, cwd, show;
  } cases[] = {
      {nullptr, "C:\\Bin\\record.exe a b", "C:\\Other Dir", STARTF_USESHOWWINDOW, "C:\\Bin\\record.exe a b",
       "C:\\Other Dir", "0"},
      {nullptr, "C:\\Bin\\record.exe", "..\\other dir", 0, "C:\\Bin\\record.exe", "C:\\other dir", "none"},
      {"C:\\Bin\\record.exe", nullptr, nullptr, 0, "C:\\Bin\\record.exe", "C:\\Work", "none"},
      {"C:\\Bin\\record.exe", "setup /x", nullptr, 0, "setup /x", "C:\\Work", "none"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.command_line ? c.command_line : "(none)"));
    std::string line = c.command_line ? c.command_line : "";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = c.flags;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info;
    std::memset(&info, 0xab, sizeof info);
    ASSERT_TRUE(CreateProcessA(c.application, c.command_line ? line.data() : nullptr, nullptr, nullptr, FALSE, 0,
                               nullptr, c.directory, &startup, &info));
    EXPECT_TRUE(winsim::FindHandleOf<winsim::KernelObject>(info.hProcess));
    EXPECT_TRUE(winsim::FindHandleOf<winsim::KernelObject>(info.hThread));
    EXPECT_NE(info.hProcess, info.hThread);
    ProgramRecord record = OnlyRecord();
    EXPECT_EQ(record["pid"], std::to_string(info.dwProcessId));
    EXPECT_EQ(info.dwThreadId, info.dwProcessId);
    EXPECT_EQ(record["cmdline"], c.cmdline);
    EXPECT_EQ(record["cwd"], c.cwd);
    EXPECT_EQ(record["show"], c.show);
    winsim::RemoveHandle(reinterpret_cast<uintptr_t>(info.hProcess));
    winsim::RemoveHandle(reinterpret_cast<uintptr_t>(info.hThread));
    ClearRecords();
  }
}

TEST_F(ProcessTest, CreateProcessFailsWithTheLastErrorAndLeavesTheInformationAlone) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  struct Case {
    const char* application;
    const char* command_line;
    const char* directory;
    STARTUPINFOA* startup;
    DWORD error;
  } cases[] = {
      {nullptr, "C:\\Bin\\nothere.exe", nullptr, &startup, ERROR_FILE_NOT_FOUND},
      {nullptr, "C:\\Nowhere\\x.exe", nullptr, &startup, ERROR_PATH_NOT_FOUND},
      {"C:\\Bin", "Bin", nullptr, &startup, ERROR_ACCESS_DENIED},
      {nullptr, "C:\\Bin\\text.txt", nullptr, &startup, ERROR_BAD_FORMAT},
      {nullptr, "C:\\Bin\\record.exe", "C:\\Missing", &startup, ERROR_DIRECTORY},
      {nullptr, "C:\\Bin\\record.exe", "C:\\Bin\\text.txt", &startup, ERROR_DIRECTORY},
      {nullptr, nullptr, nullptr, &startup, ERROR_INVALID_PARAMETER},
      {nullptr, "C:\\Bin\\record.exe", nullptr, nullptr, ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.command_line ? c.command_line : "(none)") + " in " +
                 (c.directory ? c.directory : "(same)"));
    std::string line = c.command_line ? c.command_line : "";
    PROCESS_INFORMATION info, pattern;
    std::memset(&info, 0xab, sizeof info);
    std::memset(&pattern, 0xab, sizeof pattern);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CreateProcessA(c.application, c.command_line ? line.data() : nullptr, nullptr, nullptr, FALSE, 0,
                                nullptr, c.directory, c.startup, &info));
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(std::memcmp(&info, &pattern, sizeof info), 0);
  }
  EXPECT_FALSE(HaveChild());
  EXPECT_TRUE(ReadProgramRecords(machine_.Folder() / "runs").empty());
}

TEST_F(ProcessTest, GetExitCodeProcessSaysStillActiveWhileTheProgramRuns) {
  char line[] = "C:\\Bin\\wait.exe";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  ASSERT_TRUE(CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
  DWORD code = 0xdeadbeef;
  EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
  EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
  std::ofstream(machine_.Folder() / "go").flush();
  // Once it has ended its code is not kept, and nothing claims it is.
  EXPECT_TRUE(WaitUntil([&] { return !GetExitCodeProcess(info.hProcess, &code); }));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  EXPECT_FALSE(GetExitCodeProcess(info.hThread, &code));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  winsim::RemoveHandle(reinterpret_cast<uintptr_t>(info.hProcess));
  winsim::RemoveHandle(reinterpret_cast<uintptr_t>(info.hThread));
}

}  // namespace
