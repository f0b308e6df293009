// winsim printer, window, shell and boxes, run as a person runs them, on a fresh machine.
#include <windows.h>

#include <winsim/machine.h>
#include <winsim/printers.h>
#include <winsim/process.h>
#include <winsim/windows_table.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

#include "run.h"
#include "temp_machine.h"

extern char** environ;

namespace {

using testing_support::RunResult;
using testing_support::TempMachine;
using testing_support::WaitUntil;

RunResult Ok(const TempMachine& machine, const std::vector<std::string>& args) {
  RunResult r = testing_support::Winsim(machine.Folder(), args);
  EXPECT_EQ(r.exit_code, 0) << "winsim " << testing::PrintToString(args) << ": " << r.err;
  return r;
}

// A failure is one line on stderr and a non-zero exit.
void Fails(const TempMachine& machine, const std::vector<std::string>& args) {
  RunResult r = testing_support::Winsim(machine.Folder(), args);
  EXPECT_NE(r.exit_code, 0) << "winsim " << testing::PrintToString(args);
  EXPECT_TRUE(r.out.empty()) << r.out;
  EXPECT_FALSE(r.err.empty());
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(WinsimPrinter, AddsListsAndRemovesPrinters) {
  TempMachine machine;
  Ok(machine, {"printer", "add", "Quorl K5583 PCL 6", "--driver", "Quorl K5583 PCL 6", "--port", "LPT1:"});
  Ok(machine, {"printer", "add", "Dunvik VX-410 PCL5e", "--needs-admin"});
  const std::string listed = "Dunvik VX-410 PCL5e\t\t\tneeds-admin\nQuorl K5583 PCL 6\tQuorl K5583 PCL 6\tLPT1:\t-\n";
  EXPECT_EQ(Ok(machine, {"printer", "list"}).out, listed);

  Fails(machine, {"printer", "add", "QUORL k5583 pcl 6"});
  Fails(machine, {"printer", "add", ""});
  Fails(machine, {"printer", "remove", "Nobody"});
  Fails(machine, {"printer", "add"});
  EXPECT_EQ(Ok(machine, {"printer", "list"}).out, listed) << "failed commands leave the machine as it was";

  Ok(machine, {"printer", "remove", "dunvik vx-410 pcl5E"});
  EXPECT_EQ(Ok(machine, {"printer", "list"}).out, "Quorl K5583 PCL 6\tQuorl K5583 PCL 6\tLPT1:\t-\n");
}

// Names and captions that hold control characters never break the one-line, tab-separated lists:
// printer names refuse them as Windows does, and what the machine holds anyway is shown escaped.
TEST(WinsimLists, ControlCharactersNeverBreakALine) {
  TempMachine machine;
  Fails(machine, {"printer", "add", "Tab\tPrinter"});
  Fails(machine, {"printer", "add", "Line\nPrinter"});
  Fails(machine, {"printer", "add", "Printer", "--port", "LPT1:\n"});
  EXPECT_EQ(Ok(machine, {"printer", "list"}).out, "");
  // A printer that the machine holds from before the check.
  winsim::PrinterInfo old;
  old.name = "Old\tOne";
  old.driver = "D\n";
  old.port = "LPT1:";
  ASSERT_TRUE(winsim::AddPrinter(old));
  EXPECT_EQ(Ok(machine, {"printer", "list"}).out, "Old\\x09One\tD\\x0A\tLPT1:\t-\n");

  const std::string added = Ok(machine, {"window", "add", "Two\nLines\tand\x1b[2Jescape"}).out;
  EXPECT_EQ(std::count(added.begin(), added.end(), '\n'), 1) << added;
  const std::string windows = Ok(machine, {"window", "list"}).out;
  EXPECT_TRUE(Contains(windows, "\tmachine\tTwo\\x0ALines\\x09and\\x1B[2Jescape\n")) << windows;
  EXPECT_EQ(std::count(windows.begin(), windows.end(), '\n'), 1) << windows;

  machine.Write("C:\\LIST\\Made\non the host.TXT", "x");
  EXPECT_EQ(Ok(machine, {"ls", "C:\\LIST"}).out, "           1  Made\\x0Aon the host.TXT\n");
}

TEST(WinsimWindow, MachineWindowsStayAndProcessWindowsEndWithTheirProcess) {
  TempMachine machine;
  Ok(machine, {"window", "add", "Hello"});
  Fails(machine, {"window", "close", "hello"});
  EXPECT_TRUE(Contains(Ok(machine, {"window", "list"}).out, "\tmachine\tHello\n"));

  // A child process opens a window, shows it while it lives, and ends; its parent's window stays.
  winsim::AddWindow("Parent Window", true);
  int ready[2], release[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(release), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(release[1]);
    winsim::UseMachine(machine.Folder());
    HWND window = winsim::AddWindow("Child Window", true);
    (void)!::write(ready[1], &window, sizeof window);
    char byte;
    (void)!::read(release[0], &byte, 1);
    ::_exit(0);
  }
  ::close(ready[1]);
  ::close(release[0]);
  HWND window = nullptr;
  ASSERT_EQ(::read(ready[0], &window, sizeof window), static_cast<ssize_t>(sizeof window));
  const std::string owner = "\tpid " + std::to_string(child) + "\tChild Window\n";
  EXPECT_TRUE(Contains(Ok(machine, {"window", "list"}).out, owner));
  EXPECT_TRUE(IsWindow(window));
  Fails(machine, {"window", "close", "Child Window"});  // not the machine's to close

  ::close(release[1]);
  ASSERT_EQ(::waitpid(child, nullptr, 0), child);
  EXPECT_FALSE(IsWindow(window));
  const std::string after = Ok(machine, {"window", "list"}).out;
  EXPECT_FALSE(Contains(after, "Child Window"));
  EXPECT_TRUE(Contains(after, "\tpid " + std::to_string(::getpid()) + "\tParent Window\n"));
  EXPECT_TRUE(Contains(after, "Hello"));

  Ok(machine, {"window", "close", "Hello"});
  EXPECT_FALSE(Contains(Ok(machine, {"window", "list"}).out, "Hello"));
  ::close(ready[0]);
}

// Writes a value under the Run key byte for byte, as a program would.
void SetRunValue(const std::string& name, DWORD type, const std::string& data) {
  HKEY run = nullptr;
  ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", &run),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(run, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                           static_cast<DWORD>(data.size())),
            ERROR_SUCCESS);
  RegCloseKey(run);
}

void PutScript(const TempMachine& machine, const std::string& windows_path, const std::string& body) {
  machine.Write(windows_path, "#!/bin/sh\n" + body);
  std::filesystem::permissions(machine.Host(windows_path), std::filesystem::perms::owner_exec,
                               std::filesystem::perm_options::add);
}

TEST(WinsimShell, StartsTheRunKeyProgramsBehindItsWindow) {
  TempMachine machine;
  // A Run program of the installation looks for the shell's window: it must be there first.
  PutScript(machine, "C:\\PROGS\\ONE.EXE",
            "sleep 0.2\n"
            "'" +
                testing_support::BinPath("winsim").string() +
                "' window list | grep -q 'Program Manager' && touch \"$WINSIM_MACHINE/drive_c/one.ran\"\nexit 3\n");
  PutScript(machine, "C:\\PROGS\\TWO.EXE", "touch \"$WINSIM_MACHINE/drive_c/two.ran\"\n");
  SetRunValue("One", REG_SZ, std::string("C:\\PROGS\\ONE.EXE /x\0", 20));
  SetRunValue("Number", REG_DWORD, std::string("\x01\0\0\0", 4));
  SetRunValue("Missing", REG_SZ, "C:\\PROGS\\NONE.EXE");
  SetRunValue("Two", REG_SZ, "C:\\PROGS\\TWO.EXE");

  const std::string out = Ok(machine, {"shell", "start", "--wait"}).out;
  EXPECT_TRUE(Contains(out, "started \"One\": \"C:\\\\PROGS\\\\ONE.EXE /x\"")) << out;
  EXPECT_TRUE(Contains(out, "started \"Two\"")) << out;
  EXPECT_TRUE(Contains(out, "not started \"Missing\"")) << out;
  EXPECT_TRUE(Contains(out, "passed over \"Number\"")) << out;
  EXPECT_TRUE(Contains(out, "ended \"One\": exit code 3")) << out;
  EXPECT_TRUE(machine.Exists("C:\\one.ran"));
  EXPECT_TRUE(machine.Exists("C:\\two.ran"));

  Fails(machine, {"shell", "start"});
  const std::string windows = Ok(machine, {"window", "list"}).out;
  EXPECT_EQ(windows.find("Program Manager"), windows.rfind("Program Manager")) << "one desktop only";

  Ok(machine, {"shell", "stop"});
  EXPECT_FALSE(Contains(Ok(machine, {"window", "list"}).out, "Program Manager"));
  Fails(machine, {"shell", "stop"});

  // Without --wait the shell doesn't stay for its programs.
  std::filesystem::remove(machine.Host("C:\\two.ran"));
  Ok(machine, {"shell", "start"});
  EXPECT_TRUE(WaitUntil([&] { return machine.Exists("C:\\two.ran"); }));
}

TEST(WinsimShell, RacingStartsPutUpOneDesktopAndStartEachProgramOnce) {
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    TempMachine machine;
    PutScript(machine, "C:\\PROGS\\ONE.EXE", "echo x >> \"$WINSIM_MACHINE/drive_c/one.runs\"\n");
    SetRunValue("One", REG_SZ, "C:\\PROGS\\ONE.EXE");
    // The shells wait at a gate and go at once, so that their checks and changes meet.
    const std::filesystem::path gate = machine.Folder().parent_path() / "go";
    const std::string shell = "while [ ! -e '" + gate.string() + "' ]; do :; done; exec '" +
                              testing_support::BinPath("winsim").string() + "' shell start --wait";
    std::vector<std::thread> shells;
    std::atomic<int> started{0};
    for (int i = 0; i < 8; ++i)
      shells.emplace_back([&] {
        if (testing_support::RunHost(machine.Folder(), {"/bin/sh", "-c", shell}).exit_code == 0) ++started;
      });
    std::ofstream{gate};
    for (std::thread& t : shells) t.join();
    EXPECT_EQ(started.load(), 1);
    const std::string windows = Ok(machine, {"window", "list"}).out;
    EXPECT_NE(windows.find("Program Manager"), std::string::npos);
    EXPECT_EQ(windows.find("Program Manager"), windows.rfind("Program Manager")) << windows;
    std::ifstream runs(machine.Host("C:\\one.runs"));
    std::string all((std::istreambuf_iterator<char>(runs)), std::istreambuf_iterator<char>());
    EXPECT_EQ(all, "x\n");
  }
}

// winsim in the background, the signals a person sends at their defaults whatever this process has.
pid_t StartWinsim(const TempMachine& machine, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {testing_support::BinPath("winsim").string(), "--machine", machine.Folder().string()};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> pointers;
  for (std::string& arg : argv) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults, none;
  sigemptyset(&defaults);
  for (int signal : {SIGINT, SIGQUIT, SIGHUP, SIGTERM}) sigaddset(&defaults, signal);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int error = posix_spawn(&pid, pointers[0], &actions, &attributes, pointers.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return error == 0 ? pid : -1;
}

// A program that tells its pid, then sleeps for a minute unless a signal ends it first.
constexpr char kSleeper[] =
    "echo $$ > \"$WINSIM_MACHINE/drive_c/sleeper.new\"\n"
    "mv \"$WINSIM_MACHINE/drive_c/sleeper.new\" \"$WINSIM_MACHINE/drive_c/sleeper.pid\"\n"
    "exec sleep 60\n";

pid_t SleeperPid(const TempMachine& machine) {
  if (!WaitUntil([&] { return machine.Exists("C:\\sleeper.pid"); })) return -1;
  std::ifstream in(machine.Host("C:\\sleeper.pid"));
  pid_t pid = -1;
  in >> pid;
  return pid;
}

// Gone for good: not even a zombie waiting for its parent.
bool Gone(pid_t pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }

int EndOf(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

TEST(WinsimRun, ASignalThatEndsItEndsItsProgram) {
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal));
    TempMachine machine;
    PutScript(machine, "C:\\PROGS\\SLEEPER.EXE", kSleeper);
    const pid_t winsim = StartWinsim(machine, {"run", "C:\\PROGS\\SLEEPER.EXE"});
    ASSERT_GT(winsim, 0);
    const pid_t program = SleeperPid(machine);
    ASSERT_GT(program, 0);
    ::kill(winsim, signal);
    const int status = EndOf(winsim);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
    EXPECT_TRUE(Gone(program));
    ::kill(program, SIGKILL);
  }
}

TEST(WinsimShell, ASignalThatEndsAWaitingStartEndsItsProgramsAndTheShell) {
  TempMachine machine;
  PutScript(machine, "C:\\PROGS\\SLEEPER.EXE", kSleeper);
  SetRunValue("Sleeper", REG_SZ, "C:\\PROGS\\SLEEPER.EXE");
  const pid_t winsim = StartWinsim(machine, {"shell", "start", "--wait"});
  ASSERT_GT(winsim, 0);
  const pid_t program = SleeperPid(machine);
  ASSERT_GT(program, 0);
  ::kill(winsim, SIGTERM);
  const int status = EndOf(winsim);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  EXPECT_TRUE(Gone(program));
  ::kill(program, SIGKILL);
  EXPECT_FALSE(Contains(Ok(machine, {"window", "list"}).out, "Program Manager"));
  Fails(machine, {"shell", "stop"});
}

// SIGKILL cannot be caught: the desktop window goes with the killed shell all the same, so the
// next start puts up the one desktop.
TEST(WinsimShell, AKilledWaitingStartLeavesNoDesktopBehind) {
  TempMachine machine;
  PutScript(machine, "C:\\PROGS\\SLEEPER.EXE", kSleeper);
  SetRunValue("Sleeper", REG_SZ, "C:\\PROGS\\SLEEPER.EXE");
  const pid_t winsim = StartWinsim(machine, {"shell", "start", "--wait"});
  ASSERT_GT(winsim, 0);
  const pid_t program = SleeperPid(machine);
  ASSERT_GT(program, 0);
  Fails(machine, {"shell", "start"});  // the waiting shell is running
  ::kill(winsim, SIGKILL);
  EndOf(winsim);
  ::kill(program, SIGKILL);
  EXPECT_FALSE(Contains(Ok(machine, {"window", "list"}).out, "Program Manager"));
  // The next shell starts no program: one that outlived this test would hold its output open.
  HKEY run = nullptr;
  ASSERT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", &run), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(run, "Sleeper"), ERROR_SUCCESS);
  RegCloseKey(run);
  Ok(machine, {"shell", "start"});
  const std::string windows = Ok(machine, {"window", "list"}).out;
  EXPECT_EQ(windows.find("Program Manager"), windows.rfind("Program Manager")) << windows;
  EXPECT_NE(windows.find("\tmachine\tProgram Manager"), std::string::npos) << windows;
  Ok(machine, {"shell", "stop"});
}

// The later one waits until the sooner one is gone for good, which it is only once reaped.
TEST(WinsimShell, AWaitingStartReapsItsProgramsInTheOrderTheyEnd) {
  TempMachine machine;
  PutScript(machine, "C:\\PROGS\\LATER.EXE",
            "d=\"$WINSIM_MACHINE/drive_c\"\n"
            "while [ ! -e \"$d/sooner.pid\" ]; do sleep 0.01; done\n"
            "i=0\n"
            "while kill -0 \"$(cat \"$d/sooner.pid\")\" 2>/dev/null; do\n"
            "  i=$((i + 1)); [ $i -gt 3000 ] && exit 1; sleep 0.01\n"
            "done\n");
  PutScript(machine, "C:\\PROGS\\SOONER.EXE",
            "echo $$ > \"$WINSIM_MACHINE/drive_c/sooner.new\"\n"
            "mv \"$WINSIM_MACHINE/drive_c/sooner.new\" \"$WINSIM_MACHINE/drive_c/sooner.pid\"\n");
  SetRunValue("Later", REG_SZ, "C:\\PROGS\\LATER.EXE");
  SetRunValue("Sooner", REG_SZ, "C:\\PROGS\\SOONER.EXE");
  const std::string out = Ok(machine, {"shell", "start", "--wait"}).out;
  const size_t sooner = out.find("ended \"Sooner\": exit code 0"), later = out.find("ended \"Later\": exit code 0");
  EXPECT_TRUE(sooner != std::string::npos && later != std::string::npos && sooner < later) << out;
}

TEST(WinsimBoxes, ListsHoldsClosesAndClears) {
  TempMachine machine;
  EXPECT_EQ(MessageBoxA(reinterpret_cast<HWND>(0x42), "Line one\nC:\\X", "Caption", MB_OK | MB_ICONERROR), IDOK);
  ExitWindowsEx(EWX_REBOOT, 0);
  const std::string program = "program=\"" + winsim::ProgramName() + "\" pid=" + std::to_string(::getpid());
  EXPECT_EQ(Ok(machine, {"boxes"}).out,
            "1 box closed " + program + " owner=0x42 caption=\"Caption\" text=\"Line one\\x0AC:\\\\X\" type=0x10\n" +
                "2 restart requested " + program + " flags=0x2\n");

  Ok(machine, {"boxes", "--hold", "on"});
  std::atomic<int> answers{0};
  std::vector<std::thread> shown;
  for (int i = 0; i < 3; ++i)
    shown.emplace_back([&] { answers += MessageBoxA(nullptr, "held", nullptr, MB_OK) == IDOK; });
  auto open = [&] {
    const std::string out = Ok(machine, {"boxes"}).out;
    int n = 0;
    for (size_t at = out.find(" box open "); at != std::string::npos; at = out.find(" box open ", at + 1)) ++n;
    return n;
  };
  ASSERT_TRUE(WaitUntil([&] { return open() == 3; }));
  EXPECT_EQ(answers.load(), 0);
  Ok(machine, {"boxes", "--close"});
  ASSERT_TRUE(WaitUntil([&] { return answers.load() == 1; }));
  EXPECT_EQ(open(), 2);
  Fails(machine, {"boxes", "--close", "2"});  // a restart request, not a box
  Fails(machine, {"boxes", "--close", "x"});
  Ok(machine, {"boxes", "--close", "--all"});
  for (std::thread& t : shown) t.join();
  EXPECT_EQ(answers.load(), 3);
  Fails(machine, {"boxes", "--close"});

  Ok(machine, {"boxes", "--hold", "off"});
  EXPECT_EQ(MessageBoxA(nullptr, "not held", "Caption", MB_OK), IDOK);
  Fails(machine, {"boxes", "--hold", "maybe"});
  Ok(machine, {"boxes", "--clear"});
  EXPECT_EQ(Ok(machine, {"boxes"}).out, "");
}

}  // namespace
