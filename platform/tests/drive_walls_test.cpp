// The walls of drive C: for the Win32 calls: no name of any code page reaches a host file off the
// drive, and only regular files and folders are files of the machine.
#include <share.h>
#include <windows.h>

#include <winsim/paths.h>

#include "temp_machine.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <future>

namespace fs = std::filesystem;
using testing_support::TempMachine;

namespace {

struct Attempt {
  const char* what;
  std::function<bool()> succeeds;
};

// Every call that names a file, each of which must fail on `name`.
std::vector<Attempt> CallsOn(const std::string& name) {
  return {
      {"_fsopen",
       [name] {
         FILE* f = _fsopen(name.c_str(), "r", _SH_DENYNO);
         if (f) std::fclose(f);
         return f != nullptr;
       }},
      {"GetFileAttributesA", [name] { return GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES; }},
      {"DeleteFileA", [name] { return DeleteFileA(name.c_str()) != FALSE; }},
      {"FindFirstFileA",
       [name] {
         WIN32_FIND_DATAA data;
         HANDLE h = FindFirstFileA(name.c_str(), &data);
         if (h != INVALID_HANDLE_VALUE) FindClose(h);
         return h != INVALID_HANDLE_VALUE;
       }},
      {"LoadLibraryA",
       [name] {
         HMODULE m = LoadLibraryA(name.c_str());
         if (m) FreeLibrary(m);
         return m != nullptr;
       }},
      {"WinExec", [name] { return WinExec(name.c_str(), SW_SHOWNORMAL) > 31; }},
  };
}

// Calls that hang on a FIFO must not: a call still running after a generous bound is let go by
// opening the FIFO's other end, and counts as a failure of the test.
bool RunsWithoutHanging(const std::function<bool()>& call, const fs::path& fifo, bool* succeeded) {
  std::future<bool> result = std::async(std::launch::async, call);
  if (result.wait_for(std::chrono::seconds(10)) == std::future_status::ready) {
    *succeeded = result.get();
    return true;
  }
  const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
  result.wait();
  if (writer >= 0) ::close(writer);
  return false;
}

// In code page 932 a lead byte takes the next byte with it; a slash after it must still never be
// passed to the host inside a name, where it would lead through a link off the drive.
TEST(DriveWalls, NoDoubleByteNameLeadsOffTheDrive) {
  TempMachine machine(winsim::WindowsFlavour::Win98, 932);
  const fs::path outside = machine.Folder().parent_path() / "outside";
  fs::create_directory(outside);
  const fs::path marker = outside / "ran";
  std::ofstream(outside / "secret.txt") << "secret\r\n";
  std::ofstream(outside / "prog.exe") << "#!/bin/sh\ntouch '" << marker.string() << "'\n";
  fs::permissions(outside / "prog.exe", fs::perms(0755));
  fs::create_directory_symlink(outside, machine.Folder() / "drive_c" / "\x81");

  for (const char* file : {"secret.txt", "prog.exe", "*"}) {
    const std::string name = std::string("C:\\\x81/") + file;
    for (const Attempt& attempt : CallsOn(name)) {
      SCOPED_TRACE(std::string(attempt.what) + " " + file);
      EXPECT_FALSE(attempt.succeeds());
    }
  }
  EXPECT_FALSE(SetCurrentDirectoryA("C:\\\x81/"));
  DWORD error = 0;
  EXPECT_EQ(winsim::FullWindowsPath("C:\\\x81/secret.txt", &error), std::nullopt);
  EXPECT_EQ(error, DWORD{ERROR_INVALID_NAME});
  EXPECT_TRUE(fs::exists(outside / "secret.txt"));
  EXPECT_TRUE(fs::exists(outside / "prog.exe"));
  EXPECT_FALSE(fs::exists(marker)) << "a program off the drive ran";
}

TEST(DriveWalls, AFifoIsNoFileOfTheMachine) {
  TempMachine machine;
  machine.Write("C:\\DIR\\KEEP.TXT", "x");
  const fs::path fifo = machine.Host("C:\\DIR\\PIPE.INF");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0755), 0);

  for (const std::string name : {"C:\\DIR\\PIPE.INF", "C:\\dir\\pipe.inf"}) {
    for (const Attempt& attempt : CallsOn(name)) {
      SCOPED_TRACE(attempt.what + (" " + name));
      bool succeeded = false;
      EXPECT_TRUE(RunsWithoutHanging(attempt.succeeds, fifo, &succeeded)) << "hangs";
      EXPECT_FALSE(succeeded);
    }
  }
  // A search lists the folder's files only.
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA("C:\\DIR\\*.*", &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  std::vector<std::string> names{data.cFileName};
  while (FindNextFileA(search, &data)) names.push_back(data.cFileName);
  FindClose(search);
  EXPECT_EQ(names, (std::vector<std::string>{".", "..", "KEEP.TXT"}));
  EXPECT_TRUE(fs::is_fifo(fifo));
}

}  // namespace
