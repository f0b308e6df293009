// winsim put, ls, snapshot, diff, trace and fault, run as a person runs them.
#include <windows.h>

#include <winsim/machine.h>
#include <winsim/printers.h>
#include <winsim/process.h>
#include <winsim/windows_table.h>

#include "run.h"
#include "temp_machine.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <thread>

namespace fs = std::filesystem;
using testing_support::RunResult;
using testing_support::TempMachine;
using testing_support::Winsim;

namespace {

std::string Describe(const std::vector<std::string>& args, const RunResult& r) {
  std::string line = "winsim";
  for (const std::string& a : args) line += " '" + a + "'";
  return line + " -> " + std::to_string(r.exit_code) + "\nout: " + r.out + "\nerr: " + r.err;
}

RunResult Ok(const fs::path& machine, const std::vector<std::string>& args) {
  RunResult r = Winsim(machine, args);
  EXPECT_EQ(r.exit_code, 0) << Describe(args, r);
  return r;
}

fs::path HostFile(const TempMachine& machine, const std::string& name, const std::string& content, bool runnable) {
  fs::path file = machine.Folder().parent_path() / name;
  std::ofstream(file, std::ios::binary) << content;
  fs::permissions(file, runnable ? fs::perms(0755) : fs::perms(0644));
  return file;
}

bool Runnable(const fs::path& file) {
  return (fs::status(file).permissions() & fs::perms::owner_exec) != fs::perms::none;
}

TEST(WinsimPut, CopiesOntoTheDriveCreatingFoldersAndKeepingRunnable) {
  TempMachine machine;
  const fs::path prog = HostFile(machine, "prog", "#!/bin/sh\nexit 3\n", true);
  const fs::path text = HostFile(machine, "text", "[K5583.DRV]\r\n", false);
  Ok(machine.Folder(), {"put", prog.string(), "C:\\Contract\\Dir\\PROG.EXE"});
  Ok(machine.Folder(), {"put", text.string(), "c:/contract/DIR/oem0.inf"});
  Ok(machine.Folder(), {"put", text.string(), "C:\\CONTRACT\\dir\\prog.exe"});  // replaces, keeps the name

  const fs::path dir = machine.Folder() / "drive_c" / "Contract" / "Dir";
  EXPECT_FALSE(Runnable(dir / "oem0.inf"));
  EXPECT_FALSE(Runnable(dir / "PROG.EXE"));
  Ok(machine.Folder(), {"put", prog.string(), "C:\\Contract\\Dir\\PROG.EXE"});
  EXPECT_TRUE(Runnable(dir / "PROG.EXE"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);

  RunResult ls = Ok(machine.Folder(), {"ls", "c:\\contract"});
  EXPECT_EQ(ls.out, "       <DIR>  Dir\n");
  ls = Ok(machine.Folder(), {"ls", "C:\\CONTRACT\\DIR"});
  EXPECT_EQ(ls.out, "          13  oem0.inf\n          17  PROG.EXE\n");
}

// Every refusal is one line on stderr, a non-zero exit, and no change to the machine.
TEST(WinsimPut, RefusesBadInputAndLeavesTheMachineAlone) {
  TempMachine machine;
  machine.Write("C:\\FILE.TXT", "x");
  const fs::path outside = machine.Folder().parent_path() / "outside";
  fs::create_directory(outside);
  fs::create_directory_symlink(outside, machine.Folder() / "drive_c" / "OUT");
  const fs::path host = HostFile(machine, "host", "x", false);
  const std::string missing = (machine.Folder().parent_path() / "missing").string();
  const std::string snapshot = (machine.Folder().parent_path() / "before.snap").string();
  Ok(machine.Folder(), {"snapshot", snapshot});

  using Args = std::vector<std::string>;
  struct Case {
    Args args;
    int exit_code;
  } cases[] = {
      {{"put", missing, "C:\\X.EXE"}, 1},
      {{"put", machine.Folder().string(), "C:\\X.EXE"}, 1},
      {{"put", host.string(), "D:\\X.EXE"}, 1},
      {{"put", host.string(), "\\\\server\\share\\X.EXE"}, 1},
      {{"put", host.string(), "C:\\NEW\\..\\..\\WINDOWS"}, 1},
      {{"put", host.string(), "C:\\FILE.TXT\\SUB\\X.EXE"}, 1},
      {{"put", host.string(), "C:\\NEW\\*.EXE"}, 1},
      {{"put", host.string(), "C:\\NEW\\A<B"}, 1},
      {{"put", host.string(), "C:\\"}, 1},
      {{"put", host.string(), "C:\\OUT\\X.EXE"}, 1},
      {{"put", host.string()}, 2},
      {{"ls", "C:\\NOPE"}, 1},
      {{"ls", "D:\\"}, 1},
      {{"ls"}, 2},
  };
  for (const Case& c : cases) {
    RunResult r = Winsim(machine.Folder(), c.args);
    SCOPED_TRACE(Describe(c.args, r));
    EXPECT_EQ(r.exit_code, c.exit_code);
    EXPECT_TRUE(r.out.empty());
    EXPECT_FALSE(r.err.empty());
    if (c.exit_code == 1) {
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
    }
    EXPECT_EQ(Ok(machine.Folder(), {"diff", snapshot}).out, "no changes\n");
  }
  EXPECT_TRUE(fs::is_empty(outside));
}

// winsim with a file size limit (in the shell's blocks): its writes beyond it fail with EFBIG when
// `survive`, else the limit's signal kills it midway.
RunResult Limited(const fs::path& machine, const std::vector<std::string>& args, int blocks, bool survive) {
  std::vector<std::string> argv = {
      "/bin/sh",
      "-c",
      std::string(survive ? "trap '' XFSZ; " : "") + "ulimit -f " + std::to_string(blocks) + "; exec \"$0\" \"$@\"",
      testing_support::BinPath("winsim").string(),
      "--machine",
      machine.string()};
  argv.insert(argv.end(), args.begin(), args.end());
  return testing_support::RunHost(machine, argv);
}

fs::path BigFile(const TempMachine& machine) {
  const fs::path big = machine.Folder().parent_path() / "big.bin";
  std::ofstream(big, std::ios::binary) << std::string(8 << 20, 'b');
  return big;
}

// A put that fails or is killed leaves the drive as it was, and never takes away what another put
// made meanwhile; no half-written file is ever seen on the drive.
TEST(WinsimPut, AFailedOrKilledPutLeavesOnlyWhatOthersMade) {
  TempMachine machine;
  const fs::path big = BigFile(machine);
  const fs::path small = HostFile(machine, "small", "small", false);
  const std::string snapshot = (machine.Folder().parent_path() / "before.snap").string();
  Ok(machine.Folder(), {"snapshot", snapshot});

  RunResult killed = Limited(machine.Folder(), {"put", big.string(), "C:\\K\\BIG.BIN"}, 2048, false);
  EXPECT_EQ(killed.exit_code, 128 + SIGXFSZ) << killed.err;
  RunResult failed = Limited(machine.Folder(), {"put", big.string(), "C:\\K\\BIG.BIN"}, 2048, true);
  EXPECT_EQ(failed.exit_code, 1) << failed.err;
  EXPECT_EQ(std::count(failed.err.begin(), failed.err.end(), '\n'), 1) << failed.err;
  EXPECT_EQ(Ok(machine.Folder(), {"diff", snapshot}).out, "no changes\n");

  for (int round = 0; round < 10; ++round) {
    const std::string folder = "C:\\N" + std::to_string(round);
    RunResult bad;
    std::thread failing([&] {
      bad = Limited(machine.Folder(), {"put", big.string(), folder + "\\BIG.BIN"}, 2048, true);
    });
    RunResult good = Winsim(machine.Folder(), {"put", small.string(), folder + "\\SMALL.TXT"});
    failing.join();
    SCOPED_TRACE("round " + std::to_string(round));
    EXPECT_EQ(bad.exit_code, 1) << bad.err;
    EXPECT_EQ(good.exit_code, 0) << good.err;
    EXPECT_EQ(Winsim(machine.Folder(), {"ls", folder}).out, "           5  SMALL.TXT\n");
  }
}

// Names are one whatever their case: racing puts find the one folder or file there is.
TEST(WinsimPut, RacingPutsFindOneNameOfAnyCase) {
  TempMachine machine;
  const fs::path file = HostFile(machine, "file", "x", false);
  auto count_folding_to = [&](const std::string& upper) {
    int n = 0;
    for (const fs::directory_entry& e : fs::directory_iterator(machine.Folder() / "drive_c")) {
      std::string name = e.path().filename().string();
      for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      n += name == upper;
    }
    return n;
  };
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::string n = std::to_string(round);
    const std::vector<std::vector<std::string>> puts = {
        {"put", file.string(), "C:\\R" + n + "\\A.TXT"},
        {"put", file.string(), "C:\\r" + n + "\\B.TXT"},
        {"put", file.string(), "C:\\F" + n},
        {"put", file.string(), "C:\\f" + n + "\\X.TXT"},
    };
    std::vector<RunResult> results(puts.size());
    std::vector<std::thread> racers;
    for (size_t i = 0; i < puts.size(); ++i)
      racers.emplace_back([&, i] { results[i] = Winsim(machine.Folder(), puts[i]); });
    for (std::thread& t : racers) t.join();

    EXPECT_EQ(results[0].exit_code, 0) << results[0].err;
    EXPECT_EQ(results[1].exit_code, 0) << results[1].err;
    EXPECT_EQ(count_folding_to("R" + n), 1);
    EXPECT_EQ(Winsim(machine.Folder(), {"ls", "C:\\R" + n}).out, "           1  A.TXT\n           1  B.TXT\n");
    // The file or the folder, whichever came first; the other put is refused.
    EXPECT_NE(results[2].exit_code == 0, results[3].exit_code == 0) << results[2].err << results[3].err;
    EXPECT_EQ(count_folding_to("F" + n), 1);
    const std::string wanted = results[2].exit_code == 0 ? "C:\\F" + n : "C:\\F" + n + "\\X.TXT";
    EXPECT_EQ(Winsim(machine.Folder(), {"ls", wanted}).exit_code, 0);
  }
}

TEST(Winsim, RefusesAMissingMachineWithoutMakingOne) {
  TempMachine machine;
  const fs::path none = machine.Folder().parent_path() / "none";
  const fs::path host = HostFile(machine, "host", "x", false);
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"ls", "C:\\"}, {"put", host.string(), "C:\\X"}, {"snapshot", (none / "s").string()}, {"trace"}}) {
    RunResult r = Winsim(none, args);
    SCOPED_TRACE(Describe(args, r));
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("no machine"), std::string::npos);
    EXPECT_FALSE(fs::exists(none));
  }
}

HKEY CreateKey(const char* path) {
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, path, &key), ERROR_SUCCESS) << path;
  return key;
}

void SetValue(HKEY key, const char* name, DWORD type, const std::string& data) {
  EXPECT_EQ(
      RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size())),
      ERROR_SUCCESS);
}

// A window of a process that has ended: its row stays behind until somebody lists the windows.
void LeaveWindowOfEndedProcess(const TempMachine& machine, const char* caption) {
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    winsim::UseMachine(machine.Folder());
    winsim::AddWindow(caption, true);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
}

TEST(WinsimDiff, NamesWhatChangedSinceTheSnapshot) {
  TempMachine machine;
  machine.Write("C:\\CHANGE.TXT", "abcd");
  machine.Write("C:\\GONE.TXT", "abcd");
  HKEY kit = CreateKey("Software\\Kit");
  RegCloseKey(CreateKey("Software\\Old"));
  SetValue(kit, "Model", REG_SZ, std::string("A\0", 2));
  winsim::PrinterInfo printer;
  printer.name = "Old Printer";
  printer.driver = "D";
  printer.port = "LPT1:";
  ASSERT_TRUE(winsim::AddPrinter(printer));
  const std::string snapshot = (machine.Folder().parent_path() / "before.snap").string();
  Ok(machine.Folder(), {"snapshot", snapshot});
  EXPECT_EQ(Ok(machine.Folder(), {"diff", snapshot}).out, "no changes\n");

  machine.Write("C:\\NEW\\NEW.EXE", "new");
  machine.Write("C:\\CHANGE.TXT", "abce");
  fs::remove(machine.Host("C:\\GONE.TXT"));
  RegCloseKey(CreateKey("Software\\New"));
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Old"), ERROR_SUCCESS);
  SetValue(kit, "Model", REG_SZ, std::string("B\0", 2));
  SetValue(kit, "", REG_DWORD, std::string("\x0a\0\0\0", 4));
  RegCloseKey(kit);
  ASSERT_TRUE(winsim::RemovePrinter("Old Printer"));
  winsim::AddWindow("Setup", false);
  LeaveWindowOfEndedProcess(machine, "Ended");

  const std::string out = Ok(machine.Folder(), {"diff", snapshot}).out;
  const std::string printer_line = "- printer Old Printer (";
  const size_t printer_at = out.find(printer_line);
  ASSERT_NE(printer_at, std::string::npos) << out;
  std::string without_printer = out;
  without_printer.erase(printer_at, out.find('\n', printer_at) + 1 - printer_at);
  EXPECT_EQ(without_printer,
            "+ key HKLM\\Software\\New\n"
            "- key HKLM\\Software\\Old\n"
            "+ value HKLM\\Software\\Kit\\@ (dword:0000000a)\n"
            "~ value HKLM\\Software\\Kit\\\"Model\" (\"A\" -> \"B\")\n"
            "+ folder C:\\NEW\n"
            "~ file C:\\CHANGE.TXT (4 bytes, content changed)\n"
            "- file C:\\GONE.TXT (4 bytes)\n"
            "+ file C:\\NEW\\NEW.EXE (3 bytes)\n"
            "+ window Setup\n");
}

TEST(WinsimDiff, RefusesWhatIsNoSnapshot) {
  TempMachine machine;
  const fs::path bad = HostFile(machine, "bad.snap", "REGEDIT4\n", false);
  for (const fs::path& file : {bad, machine.Folder().parent_path() / "missing.snap"}) {
    RunResult r = Winsim(machine.Folder(), {"diff", file.string()});
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_NE(r.err.find(file.string()), std::string::npos) << r.err;
  }
}

// A snapshot is whole or refused: one cut anywhere is never taken for a machine without changes,
// and a snapshot killed while writing leaves the one before it as it was.
TEST(WinsimSnapshot, ACutOrKilledSnapshotNeverPassesForAWholeOne) {
  TempMachine machine;
  for (int i = 0; i < 300; ++i) machine.Write("C:\\FILES\\F" + std::to_string(i) + ".TXT", "x");
  const fs::path snapshot = machine.Folder().parent_path() / "whole.snap";
  Ok(machine.Folder(), {"snapshot", snapshot.string()});
  std::string whole;
  {
    std::ifstream in(snapshot, std::ios::binary);
    whole.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  ASSERT_GT(whole.size(), 16000u);
  EXPECT_EQ(Ok(machine.Folder(), {"diff", snapshot.string()}).out, "no changes\n");

  const fs::path cut = machine.Folder().parent_path() / "cut.snap";
  for (size_t size : {size_t{18}, size_t{1000}, size_t{1500}, whole.size() / 2, whole.size() - 30, whole.size() - 1}) {
    std::ofstream(cut, std::ios::binary | std::ios::trunc) << whole.substr(0, size);
    RunResult r = Winsim(machine.Folder(), {"diff", cut.string()});
    SCOPED_TRACE("cut at " + std::to_string(size) + ": " + r.out + r.err);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
    EXPECT_NE(r.err.find(cut.string()), std::string::npos);
  }

  machine.Write("C:\\NEW.TXT", "new");
  RunResult killed = Limited(machine.Folder(), {"snapshot", snapshot.string()}, 8, false);
  EXPECT_EQ(killed.exit_code, 128 + SIGXFSZ) << killed.err;
  EXPECT_EQ(Ok(machine.Folder(), {"diff", snapshot.string()}).out, "+ file C:\\NEW.TXT (3 bytes)\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(snapshot.parent_path()), fs::directory_iterator()), 3)
      << "only the machine, whole.snap and cut.snap: nothing left of the killed snapshot";
}

TEST(WinsimTrace, ShowsTheCallsOfOtherProcessesInOrder) {
  TempMachine machine;
  machine.Write("C:\\A.TXT", "x");
  Ok(machine.Folder(), {"trace", "on"});
  SetLastError(0);
  DeleteFileA("C:\\NOPE.TXT");
  GetFileAttributesA("C:\\A.TXT");
  const std::string who = std::to_string(::getpid()) + " " + winsim::ProgramName() + " ";
  EXPECT_EQ(Ok(machine.Folder(), {"trace"}).out,
            who + "DeleteFileA(\"C:\\\\NOPE.TXT\") = 0 [error 2]\n" +  //
                who + "GetFileAttributesA(\"C:\\\\A.TXT\") = 32 [error 2]\n");
  Ok(machine.Folder(), {"trace", "--clear"});
  EXPECT_EQ(Ok(machine.Folder(), {"trace"}).out, "");
  Ok(machine.Folder(), {"trace", "off"});
  DeleteFileA("C:\\NOPE.TXT");
  EXPECT_EQ(Ok(machine.Folder(), {"trace"}).out, "");
}

TEST(WinsimFault, FailsMatchingCallsOfAnotherProcess) {
  TempMachine machine;
  machine.Write("C:\\KEEP.TXT", "x");
  Ok(machine.Folder(),
     {"fault", "add", "GetFileAttributesA", "--match", "KEEP", "--error", "5", "--times", "1", "--skip", "1"});
  EXPECT_EQ(Ok(machine.Folder(), {"fault", "list"}).out,
            "GetFileAttributesA --match \"KEEP\" --error 5 --times 1 --skip 1\n");
  EXPECT_EQ(GetFileAttributesA("C:\\KEEP.TXT"), DWORD{FILE_ATTRIBUTE_ARCHIVE});
  EXPECT_EQ(GetFileAttributesA("C:\\WINDOWS"), DWORD{FILE_ATTRIBUTE_DIRECTORY});
  EXPECT_EQ(GetFileAttributesA("C:\\KEEP.TXT"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_ACCESS_DENIED});
  EXPECT_EQ(GetFileAttributesA("C:\\KEEP.TXT"), DWORD{FILE_ATTRIBUTE_ARCHIVE});
  EXPECT_EQ(Ok(machine.Folder(), {"fault", "list"}).out, "GetFileAttributesA --match \"KEEP\" --error 5 (used up)\n");

  Ok(machine.Folder(), {"fault", "add", "DeleteFileA", "--error", "0x20"});
  EXPECT_FALSE(DeleteFileA("C:\\KEEP.TXT"));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_SHARING_VIOLATION});
  Ok(machine.Folder(), {"fault", "clear"});
  EXPECT_EQ(Ok(machine.Folder(), {"fault", "list"}).out, "no faults\n");
  EXPECT_TRUE(DeleteFileA("C:\\KEEP.TXT"));
}

TEST(WinsimFault, RefusesBadWordsWithUsage) {
  TempMachine machine;
  using Args = std::vector<std::string>;
  for (const Args& args :
       {Args{"fault"}, Args{"fault", "add"}, Args{"fault", "add", "Bad Name"},
        Args{"fault", "add", "HeapAlloc", "--times", "0"}, Args{"fault", "add", "HeapAlloc", "--skip", "-1"},
        Args{"fault", "add", "HeapAlloc", "--error", "x5"}, Args{"fault", "add", "HeapAlloc", "--error"},
        Args{"fault", "remove"}, Args{"fault", "clear", "now"}, Args{"trace", "sideways"},
        Args{"trace", "on", "off"}}) {
    RunResult r = Winsim(machine.Folder(), args);
    SCOPED_TRACE(Describe(args, r));
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_NE(r.err.find("usage:"), std::string::npos);
  }
  EXPECT_EQ(Ok(machine.Folder(), {"fault", "list"}).out, "no faults\n");
}

// Each command and each group of commands prints its own forms: on --help to stdout, after a bad word
// to stderr with exit code 2.
TEST(WinsimCommands, EachCommandAndGroupShowsItsForms) {
  TempMachine machine;
  struct Case {
    std::vector<std::string> args;
    int exit_code;
    const char* shown;      // in the output that the case prints its forms to
    const char* not_shown;  // a form of another command
  };
  const Case cases[] = {
      {{"printer", "--help"}, 0, "winsim printer remove NAME", "winsim window"},
      {{"printer", "add", "--help"}, 0, "winsim printer add NAME", "winsim printer list"},
      {{"reg", "export", "--help"}, 0, "winsim reg export [KEY]", "winsim reg import"},
      {{"diff", "--help"}, 0, "winsim diff FILE", "winsim init"},
      {{"printer"}, 2, "winsim printer list", "winsim shell"},
      {{"printer", "frob"}, 2, "unknown command 'frob'", "winsim reg"},
      {{"shell", "start", "now"}, 2, "winsim shell start [--wait]", "winsim shell stop"},
  };
  for (const Case& c : cases) {
    RunResult r = Winsim(machine.Folder(), c.args);
    SCOPED_TRACE(Describe(c.args, r));
    EXPECT_EQ(r.exit_code, c.exit_code);
    const std::string& shown = c.exit_code == 0 ? r.out : r.err;
    EXPECT_NE(shown.find(c.shown), std::string::npos);
    EXPECT_EQ(shown.find(c.not_shown), std::string::npos);
  }
}

}  // namespace
