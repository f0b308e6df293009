// winsim against what is no part of its machine: links and slashes that lead off drive C:, FIFOs on
// the drive, folders that are no machines, names longer than Windows takes.
#include "run.h"
#include "temp_machine.h"

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using testing_support::BinPath;
using testing_support::RunResult;
using testing_support::TempMachine;

namespace {

std::string Describe(const std::vector<std::string>& args, const RunResult& r) {
  std::string line = "winsim";
  for (const std::string& a : args) line += " '" + a + "'";
  return line + " -> " + std::to_string(r.exit_code) + "\nout: " + r.out + "\nerr: " + r.err;
}

// winsim killed after a generous bound, so that a hang fails the test (exit 124) instead of
// stopping the suite.
RunResult Bounded(const fs::path& machine, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"/usr/bin/timeout", "60", BinPath("winsim").string(), "--machine", machine.string()};
  argv.insert(argv.end(), args.begin(), args.end());
  return testing_support::RunHost(machine, argv);
}

// A refusal: exit 1 and one line on stderr.
void ExpectRefused(const RunResult& r, const std::vector<std::string>& args) {
  SCOPED_TRACE(Describe(args, r));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
}

std::string Bytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

TEST(WinsimWalls, NoDoubleByteNameLeadsOffTheDrive) {
  TempMachine machine(winsim::WindowsFlavour::Win98, 932);
  const fs::path outside = machine.Folder().parent_path() / "outside";
  fs::create_directory(outside);
  const fs::path marker = outside / "ran";
  std::ofstream(outside / "secret.txt") << "secret";
  std::ofstream(outside / "prog.exe") << "#!/bin/sh\ntouch '" << marker.string() << "'\n";
  fs::permissions(outside / "prog.exe", fs::perms(0755));
  fs::create_directory_symlink(outside, machine.Folder() / "drive_c" / "\x81");
  const fs::path host = machine.Folder().parent_path() / "host.txt";
  std::ofstream(host) << "replaced";

  const std::string off = "C:\\\x81/";
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"ls", off},
           {"ls", off + "secret.txt"},
           {"put", host.string(), off + "secret.txt"},
           {"put", host.string(), off + "new.txt"},
           {"run", off + "prog.exe"},
       }) {
    RunResult r = Bounded(machine.Folder(), args);
    SCOPED_TRACE(Describe(args, r));
    EXPECT_NE(r.exit_code, 0);
    EXPECT_EQ(r.out.find("secret"), std::string::npos);
  }
  EXPECT_EQ(Bytes(outside / "secret.txt"), "secret");
  EXPECT_FALSE(fs::exists(outside / "new.txt"));
  EXPECT_FALSE(fs::exists(marker));
}

TEST(WinsimWalls, AFifoOnTheDriveIsNeverOpened) {
  TempMachine machine;
  machine.Write("C:\\DIR\\KEEP.TXT", "x");
  ASSERT_EQ(::mkfifo(machine.Host("C:\\DIR\\PIPE.INF").c_str(), 0755), 0);
  ASSERT_EQ(::mkfifo(machine.Host("C:\\PIPE.EXE").c_str(), 0755), 0);
  const std::string snapshot = (machine.Folder().parent_path() / "s").string();

  RunResult r = Bounded(machine.Folder(), {"snapshot", snapshot});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  r = Bounded(machine.Folder(), {"diff", snapshot});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "no changes\n");
  r = Bounded(machine.Folder(), {"ls", "C:\\DIR"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "           1  KEEP.TXT\n");

  const std::string fifo = machine.Host("C:\\PIPE.EXE").string();
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"ls", "C:\\DIR\\PIPE.INF"}, {"run", "C:\\PIPE.EXE"}, {"diff", fifo}, {"put", fifo, "C:\\COPY.EXE"}}) {
    r = Bounded(machine.Folder(), args);
    SCOPED_TRACE(Describe(args, r));
    EXPECT_NE(r.exit_code, 124) << "hangs";
    EXPECT_NE(r.exit_code, 0);
    EXPECT_FALSE(r.err.empty());
  }
  EXPECT_FALSE(machine.Exists("C:\\COPY.EXE"));
}

// Windows counts a name in characters (255 at most) and a path in bytes (259 and the terminator).
TEST(WinsimWalls, NamesTooLongAreCalledSo) {
  auto repeat = [](const std::string& c, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) out += c;
    return out;
  };
  const std::string wide = "\x82\xA0";  // one double-byte character in code page 932
  struct Case {
    unsigned codepage;
    std::vector<std::string> fit, too_long;
  } cases[] = {
      {1252,
       {"C:\\" + repeat("n", 255), "C:\\A\\" + repeat("n", 254)},
       {"C:\\" + repeat("n", 256), "C:\\AB\\" + repeat("n", 254), "C:\\" + repeat("n", 256) + "\\X.TXT"}},
      // Bytes count for the path; the host holds no name of more than 255 bytes.
      {932,
       {"C:\\" + repeat(wide, 127), "C:\\A\\" + repeat(wide, 127)},
       {"C:\\AB\\" + repeat(wide, 127), "C:\\" + repeat(wide, 128)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codepage);
    TempMachine machine(winsim::WindowsFlavour::Win98, c.codepage);
    const fs::path host = machine.Folder().parent_path() / "host.txt";
    std::ofstream(host) << "x";
    for (const std::string& name : c.fit) {
      EXPECT_EQ(Bounded(machine.Folder(), {"put", host.string(), name}).exit_code, 0) << name;
      EXPECT_EQ(Bounded(machine.Folder(), {"ls", name}).out,
                "           1  " + name.substr(name.rfind('\\') + 1) + "\n");
    }
    for (const std::string& name : c.too_long) {
      const std::vector<std::string> args = {"put", host.string(), name};
      RunResult r = Bounded(machine.Folder(), args);
      ExpectRefused(r, args);
      EXPECT_NE(r.err.find("name too long"), std::string::npos) << r.err;
    }
  }
}

// A SQLite file that is no machine's, beside a drive_c folder.
fs::path ForeignMachine(const fs::path& root) {
  const fs::path folder = root / "foreign";
  fs::create_directories(folder / "drive_c");
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open((folder / "machine.db").c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db,
                         "CREATE TABLE settings(name TEXT PRIMARY KEY, value TEXT);"
                         "INSERT INTO settings VALUES ('magic', 'somebody else''s');",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  return folder;
}

TEST(WinsimMachine, LeavesAForeignDatabaseByteForByte) {
  TempMachine machine;
  const fs::path foreign = ForeignMachine(machine.Folder().parent_path());
  const std::string before = Bytes(foreign / "machine.db");
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"ls", "C:\\"}, {"reg", "export"}, {"printer", "list"}, {"trace", "on"}}) {
    RunResult r = Bounded(foreign, args);
    ExpectRefused(r, args);
    EXPECT_NE(r.err.find("not a machine"), std::string::npos) << r.err;
  }
  EXPECT_TRUE(Bytes(foreign / "machine.db") == before) << "the foreign database changed";
  EXPECT_FALSE(fs::exists(foreign / "machine.db-wal"));
  EXPECT_FALSE(fs::exists(foreign / "machine.db-shm"));
}

// Finding out whether a folder holds a machine waits for the machine's writers as every reader
// does: a machine being written is never taken for no machine.
TEST(WinsimMachine, IsKnownForOneWhileOthersWriteIt) {
  TempMachine machine;
  std::atomic<bool> done{false};
  std::thread writer([&] {
    const std::string reg = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Busy]\n\"a\"=\"b\"\n";
    while (!done) testing_support::Winsim(machine.Folder(), {"reg", "import", "-"}, reg);
  });
  std::vector<std::thread> readers;
  std::atomic<int> refused{0};
  std::string last_error;
  std::mutex mutex;
  for (int t = 0; t < 4; ++t)
    readers.emplace_back([&] {
      for (int i = 0; i < 40; ++i) {
        RunResult r = testing_support::Winsim(machine.Folder(), {"ls", "C:\\"});
        if (r.exit_code != 0) {
          ++refused;
          std::lock_guard lock(mutex);
          last_error = r.err;
        }
      }
    });
  for (std::thread& t : readers) t.join();
  done = true;
  writer.join();
  EXPECT_EQ(refused, 0) << last_error;
}

TEST(WinsimMachine, RefusesAnEmptyMachineFolder) {
  TempMachine machine;  // WINSIM_MACHINE names it: an empty --machine must not fall back on it
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--machine", "", "ls", "C:\\"}, {"ls", "C:\\", "--machine", ""}}) {
    std::vector<std::string> argv = {BinPath("winsim").string()};
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult r = testing_support::RunHost(machine.Folder(), argv);
    SCOPED_TRACE(Describe(args, r));
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_TRUE(r.out.empty());
  }
}

// A machine its user may only read, and that no process holds open: the reading commands work, or
// say in one line why not.
TEST(WinsimMachine, AReadOnlyMachineIsReadOrRefusedInOneLine) {
  TempMachine machine;
  const fs::path root = machine.Folder().parent_path();
  const fs::path folder = root / "read-only";
  ASSERT_EQ(Bounded(folder, {"init"}).exit_code, 0);
  const fs::path out = root / "out";
  fs::create_directory(out);
  fs::permissions(out, fs::perms::all);
  fs::permissions(root, fs::perms(0755));
  auto writable = [&](bool on) {
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(folder))
      fs::permissions(
          e.path(),
          on ? fs::perms::owner_write : fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
          on ? fs::perm_options::add : fs::perm_options::remove);
    fs::permissions(folder, on ? fs::perms(0755) : fs::perms(0555));
  };
  writable(false);
  // Root writes anyway: the commands run as nobody then.
  std::vector<std::string> prefix;
  if (::geteuid() == 0) prefix = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"ls", "C:\\"}, {"reg", "export"}, {"printer", "list"}, {"snapshot", (out / "s").string()}}) {
    std::vector<std::string> argv = prefix;
    argv.insert(argv.end(), {"/usr/bin/timeout", "60", BinPath("winsim").string(), "--machine", folder.string()});
    argv.insert(argv.end(), args.begin(), args.end());
    RunResult r = testing_support::RunHost(folder, argv);
    SCOPED_TRACE(Describe(args, r));
    if (r.exit_code == 0) continue;
    ExpectRefused(r, args);
    EXPECT_NE(r.err.find("read-only"), std::string::npos);
  }
  writable(true);
}

}  // namespace
