#include <winsim/paths.h>
#include <winsim/process.h>

#include "temp_machine.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using testing_support::TempMachine;

void PutRunnable(const fs::path& host) {
  fs::create_directories(host.parent_path());
  std::ofstream(host) << "#!/bin/sh\nexit 0\n";
  fs::permissions(host, fs::perms::owner_exec, fs::perm_options::add);
}

class FindProgramTest : public ::testing::Test {
 protected:
  FindProgramTest() : machine_(winsim::WindowsFlavour::Win98, 1252) {
    for (const char* path : {"C:\\Program Files\\My App\\Setup.Exe", "C:\\Prog Dir\\Go.exe", "C:\\Prog.exe",
                             "C:\\Tools\\Calc.exe", "C:\\Tools\\NOEXT", "C:\\Work\\sub\\Rel.exe"})
      PutRunnable(machine_.Host(path));
    machine_.Write("C:\\Tools\\Data.txt", "#!/bin/sh\n");  // not executable
    PutRunnable(machine_.Host("C:\\Tools\\Blob.exe"));
    machine_.Write("C:\\Tools\\Blob.exe", "MZ\x90");  // executable, but no host image
    fs::create_directories(machine_.Host("C:\\Tools\\Folder.exe"));
    winsim::ResetCurrentDirectory("C:\\Work");
  }

  TempMachine machine_;
};

struct FindCase {
  const char* command_line;
  const char* application;  // null: none
  const char* program;      // the file expected, or null
  DWORD error;
};

const FindCase kFindCases[] = {
    // Unquoted with blanks: each blank may end the name, shortest first.
    {"C:\\Prog Dir\\Go.exe", nullptr, "C:\\Prog.exe", ERROR_SUCCESS},
    {"C:\\Program Files\\My App\\Setup.Exe /q", nullptr, "C:\\Program Files\\My App\\Setup.Exe", ERROR_SUCCESS},
    {"  C:\\Tools\\Calc.exe", nullptr, "C:\\Tools\\Calc.exe", ERROR_SUCCESS},
    // Quoted: the name runs to the closing quote, or to the end.
    {"\"C:\\Prog Dir\\Go.exe\" /q", nullptr, "C:\\Prog Dir\\Go.exe", ERROR_SUCCESS},
    {"\"C:\\Program Files\\My App\\setup\"", nullptr, "C:\\Program Files\\My App\\Setup.Exe", ERROR_SUCCESS},
    {"\"C:\\Tools\\Calc.exe", nullptr, "C:\\Tools\\Calc.exe", ERROR_SUCCESS},
    // ".exe" added without regard to case, not to a name ending in a dot.
    {"c:\\TOOLS\\calc /x", nullptr, "C:\\Tools\\Calc.exe", ERROR_SUCCESS},
    {"C:\\Tools\\NOEXT.", nullptr, "C:\\Tools\\NOEXT", ERROR_SUCCESS},
    {"C:\\Tools\\NOEXT", nullptr, nullptr, ERROR_FILE_NOT_FOUND},
    {"sub\\Rel", nullptr, "C:\\Work\\sub\\Rel.exe", ERROR_SUCCESS},
    // What is there but cannot run.
    {"C:\\Tools\\Data.txt", nullptr, nullptr, ERROR_BAD_FORMAT},
    {"C:\\Tools\\Blob.exe", nullptr, nullptr, ERROR_BAD_FORMAT},
    {"C:\\Tools\\Folder.exe /q", nullptr, nullptr, ERROR_ACCESS_DENIED},
    // What is not there: when no longer name exists either, the first word was meant.
    {"C:\\Missing\\Setup.exe", nullptr, nullptr, ERROR_PATH_NOT_FOUND},
    {"C:\\Tools\\Data.txt\\Setup.exe", nullptr, nullptr, ERROR_PATH_NOT_FOUND},
    {"C:\\Missing\\Setup.exe C:\\Tools\\Calc.exe", nullptr, nullptr, ERROR_PATH_NOT_FOUND},
    {"nothere.exe /q", nullptr, nullptr, ERROR_FILE_NOT_FOUND},
    {"", nullptr, nullptr, ERROR_FILE_NOT_FOUND},
    {" \t ", nullptr, nullptr, ERROR_FILE_NOT_FOUND},
    // An application name is the file itself: no search, no ".exe".
    {"anything at all", "C:\\Prog Dir\\Go.exe", "C:\\Prog Dir\\Go.exe", ERROR_SUCCESS},
    {"Calc", "C:\\Tools\\Calc", nullptr, ERROR_FILE_NOT_FOUND},
    {"Tools", "C:\\Tools", nullptr, ERROR_ACCESS_DENIED},
};

TEST_F(FindProgramTest, FollowsWindowsRules) {
  for (const FindCase& c : kFindCases) {
    SCOPED_TRACE(std::string("command line \"") + c.command_line + "\", application " +
                 (c.application ? c.application : "none"));
    winsim::StartRequest request;
    request.command_line = c.command_line;
    if (c.application) request.application = c.application;
    winsim::ProgramFile found{"untouched", "untouched"};
    EXPECT_EQ(winsim::FindProgram(request, &found), c.error);
    if (c.program) {
      EXPECT_EQ(found.host_path, machine_.Host(c.program));
    } else {
      EXPECT_EQ(found.windows_path, "untouched");
    }
  }
}

TEST_F(FindProgramTest, SearchesABareNameInTheStartersFolderThenCurrentSystemAndWindowsFolders) {
  const char* const order[] = {"C:\\Starter\\where.exe", "C:\\Work\\where.exe", "C:\\WINDOWS\\SYSTEM\\where.exe",
                               "C:\\WINDOWS\\where.exe"};
  for (const char* path : order) PutRunnable(machine_.Host(path));
  PutRunnable(machine_.Host("C:\\where.exe"));  // the root is no place of the search
  ::setenv(winsim::kEnvImage, "C:\\Starter\\STARTER.EXE", 1);
  winsim::StartRequest request;
  request.command_line = "WHERE /q";
  for (const char* path : order) {
    SCOPED_TRACE(path);
    winsim::ProgramFile found;
    EXPECT_EQ(winsim::FindProgram(request, &found), ERROR_SUCCESS);
    EXPECT_EQ(found.host_path, machine_.Host(path));
    fs::remove(machine_.Host(path));
  }
  winsim::ProgramFile found;
  EXPECT_EQ(winsim::FindProgram(request, &found), ERROR_FILE_NOT_FOUND);
  ::unsetenv(winsim::kEnvImage);
}

TEST(FindProgram, TakesABackslashTrailByteAsPartOfABareName) {
  TempMachine machine(winsim::WindowsFlavour::Win98, 932);
  const fs::path host = machine.Folder() / "drive_c" / "Work" / "\x95\\Tool.exe";
  PutRunnable(host);
  winsim::ResetCurrentDirectory("C:\\Work");
  winsim::StartRequest request;
  request.command_line = "\x95\\Tool";
  winsim::ProgramFile found;
  EXPECT_EQ(winsim::FindProgram(request, &found), ERROR_SUCCESS);
  EXPECT_EQ(found.host_path, host);
}

}  // namespace
