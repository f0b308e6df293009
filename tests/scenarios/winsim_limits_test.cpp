// winsim as a careless or hostile user drives it: input that is not a .reg, keys too deep, unknown
// calls, a damaged machine, commands raced against each other. Each failure is one line in the
// user's terms with a non-zero exit, and leaves the machine as it was.
#include <gtest/gtest.h>

#include "run.h"
#include "temp_machine.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <vector>

using testing_support::RunResult;
using testing_support::TempMachine;
using testing_support::Winsim;

namespace {

namespace fs = std::filesystem;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// One line on stderr, naming `part`, and none of the host's or the database's own words.
void ExpectRefused(const RunResult& r, const std::string& part) {
  EXPECT_NE(r.exit_code, 0);
  EXPECT_TRUE(Contains(r.err, part)) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  for (const char* raw : {"SELECT", "INSERT", "CREATE", "BEGIN", "basic_filebuf", "bad_alloc", "malformed"})
    EXPECT_FALSE(Contains(r.err, raw)) << r.err;
}

TEST(WinsimWalls, RegImportTakesOnlyAFileOfBoundedSize) {
  TempMachine machine;
  const std::string before = Winsim(machine.Folder(), {"reg", "export"}).out;
  ExpectRefused(Winsim(machine.Folder(), {"reg", "import", "/dev/zero"}), "not a file");
  ExpectRefused(Winsim(machine.Folder(), {"reg", "import", machine.Folder().string()}), "not a file");
  ExpectRefused(
      testing_support::RunHost(machine.Folder(), {"/bin/sh", "-c",
                                                  "head -c 70000000 /dev/zero | '" +
                                                      testing_support::BinPath("winsim").string() + "' reg import -"}),
      "file too large for a .reg");
  EXPECT_EQ(Winsim(machine.Folder(), {"reg", "export"}).out, before);
}

// 42,000 levels in one short line: refused at once, naming the line, with the store as it was.
TEST(WinsimWalls, KeysDeeperThanWindowsAllowsAreRefused) {
  TempMachine machine;
  std::string text = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE";
  for (int i = 0; i < 42000; ++i) text += "\\k";
  text += "]\r\n";
  const fs::path file = machine.Folder().parent_path() / "deep.reg";
  std::ofstream(file, std::ios::binary) << text;
  const uintmax_t size_before = fs::file_size(machine.Folder() / "machine.db");
  ExpectRefused(Winsim(machine.Folder(), {"reg", "import", file.string()}), "deep.reg:3: key deeper than 512 levels");
  EXPECT_LE(fs::file_size(machine.Folder() / "machine.db"), size_before);
}

TEST(WinsimWalls, FaultPlanTakesOnlyCallsThatWindowsCanFail) {
  TempMachine machine;
  for (auto [call, reason] : {std::pair{"NoSuchCall", "winsim fault add: the machine has no call named NoSuchCall\n"},
                              std::pair{"CharNextA", "winsim fault add: Windows never fails CharNextA"}}) {
    const RunResult r = Winsim(machine.Folder(), {"fault", "add", call});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_TRUE(r.err.starts_with(reason)) << r.err;
  }
  EXPECT_EQ(Winsim(machine.Folder(), {"fault", "list"}).out, "no faults\n");
  // Without --error a rule takes the call's usual error from the call table.
  EXPECT_EQ(Winsim(machine.Folder(), {"fault", "add", "RegOpenKeyA"}).exit_code, 0);
  EXPECT_EQ(Winsim(machine.Folder(), {"fault", "list"}).out, "RegOpenKeyA --error 5 (every call)\n");
}

TEST(WinsimWalls, RacingInitsMakeOneMachineAndChangeNothingElse) {
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE(round);
    const fs::path root = fs::temp_directory_path() / ("winsim-init-race-" + std::to_string(::getpid()));
    fs::remove_all(root);
    const fs::path folder = root / "m";
    std::vector<std::future<RunResult>> runs;
    for (const char* os : {"nt4", "98", "98", "98"})
      runs.push_back(std::async(std::launch::async, [&, os] { return Winsim(folder, {"init", "--os", os}); }));
    int made = 0;
    std::string winner_os;
    for (size_t i = 0; i < runs.size(); ++i) {
      const RunResult r = runs[i].get();
      if (r.exit_code == 0) {
        ++made;
        winner_os = i == 0 ? "nt4" : "98";
      } else {
        ExpectRefused(r, "a machine exists in " + folder.string() + " already");
      }
    }
    EXPECT_EQ(made, 1);
    // The folders are those of the machine's own flavour, and nothing was left beside it.
    EXPECT_EQ(fs::exists(folder / "drive_c" / "WINNT"), winner_os == "nt4");
    EXPECT_EQ(fs::exists(folder / "drive_c" / "WINDOWS"), winner_os == "98");
    EXPECT_EQ(std::distance(fs::directory_iterator(root), fs::directory_iterator()), 1);
    const RunResult ls = Winsim(folder, {"ls", winner_os == "nt4" ? "C:\\WINNT" : "C:\\WINDOWS"});
    EXPECT_TRUE(Contains(ls.out, "RUNDLL32.EXE")) << ls.out << ls.err;
    fs::remove_all(root);
  }
}

TEST(WinsimWalls, ACommandLineOverTheLimitIsNamedByItsLength) {
  TempMachine machine;
  const std::string line = "C:\\X.EXE " + std::string(40000, 'a');
  const RunResult r = Winsim(machine.Folder(), {"run", line});
  ExpectRefused(r, "40009 bytes");
  EXPECT_LT(r.err.size(), 200u);
}

}  // namespace
