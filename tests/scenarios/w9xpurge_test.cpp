// w9xpurge on fresh Windows 98 machines, read back from the machine.
#include <algorithm>
#include <map>
#include <string>

#include "uninstaller_fixture.h"

namespace testing_support {
namespace {

const char kPrinters[] = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\";
const char kDrivers[] =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows 4.0\\Drivers\\";
// The machine already has "Software" (the Run key): names keep the case they were first written in.
const char kStatusMonitor[] = "HKEY_LOCAL_MACHINE\\Software\\Velmora\\Tarnwick Window";

struct Row {
  char selector;
  std::vector<std::string> drivers;
  std::string lpt;
  std::vector<std::string> printers;
  std::vector<std::string> files;
};

const std::vector<std::string> kK5583Files = {
    "K5583.drv",  "K5583.hlp",  "K5583.gid",  "K5583.inf",  "K5583a.dll", "K5583b.dll", "K5583c.dll", "K5583d.dll",
    "K5583e.dll", "K5583g.dll", "K5583h.dll", "K5583i.dll", "K5583j.w31", "K5583j.w95", "K5583x.dll", "K5583k.dll"};
const std::vector<std::string> kVx310Files = {"Vx310.drv", "Vx310us.dll"};

const Row kRows[] = {
    {'1',
     {"Dunvik VX-410 PCL5e", "Dunvik VX-410 PCLXL"},
     "VELMORAVX-410FE43",
     {"Dunvik VX-410 PCL5e", "Quorl K5583 PCL 6"},
     {}},
    {'2', {"Quorl K5583 PCL 6"}, "QUORLK5583599E", {"Pardu Strivon K3vn PCL-5e", "Quorl K5583 PCL 6"}, kK5583Files},
    {'3',
     {"Dunvik VX-310 PCL5e", "Dunvik VX-310 PCLXL"},
     "VELMORAVX-3100242",
     {"Dunvik VX-310 PCL5e", "Quorl K5583 PCL 6"},
     kVx310Files},
    {'4',
     {"Velmora 310 PCL5e", "Velmora 310 PCLXL"},
     "ParduStrivon_P14D08A",
     {"Pardu Strivon K3vn PCL-5e", "Quorl K5583 PCL 6"},
     kVx310Files},
};

std::vector<std::string> DriverKeys(const std::string& driver) {
  return {kPrinters + driver + "\\PrinterDriverData", kPrinters + driver, kDrivers + driver};
}

class W9xPurge : public UninstallerScenario {
 protected:
  W9xPurge() : UninstallerScenario(winsim::WindowsFlavour::Win98, "w9xpurge.exe", "C:\\KIT\\W9XPURGE.EXE") {}

  // Every model's keys, files and printers, and some of other software that must stay.
  void SeedEverything() {
    std::string reg =
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Tarnwick Window\\Settings]\r\n\"Poll\"=dword:00000005\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Other Tool]\r\n"
        "[HKEY_LOCAL_MACHINE\\Enum\\LPTENUM\\OTHERPRINTER0001]\r\n";
    std::vector<std::string> drivers = {"Unrelated Laser"};
    for (const Row& row : kRows) {
      drivers.insert(drivers.end(), row.drivers.begin(), row.drivers.end());
      reg += "[HKEY_LOCAL_MACHINE\\Enum\\LPTENUM\\" + row.lpt + "\\0000]\r\n\"Model\"=\"" + row.printers[0] + "\"\r\n";
    }
    for (const std::string& driver : drivers) {
      reg += "[" + std::string(kPrinters) + driver + "\\PrinterDriverData]\r\n\"Copies\"=dword:00000001\r\n";
      reg += "[" + std::string(kDrivers) + driver + "]\r\n\"Driver\"=\"x.drv\"\r\n";
    }
    Import(reg);
    for (const auto* set : {&kK5583Files, &kVx310Files}) {
      for (const std::string& file : *set) machine_.Write("C:\\WINDOWS\\SYSTEM\\" + file, "driver");
    }
    machine_.Write("C:\\WINDOWS\\SYSTEM\\K5583f.dll", "not ours");
    machine_.Write("C:\\KIT\\K5583.drv", "a copy beside the uninstaller, not in the system directory");
    for (const char* printer : {"Dunvik VX-410 PCL5e", "Quorl K5583 PCL 6", "Pardu Strivon K3vn PCL-5e",
                                "Dunvik VX-310 PCL5e", "Office Laser"})
      AddPrinter(printer);
  }

  std::set<std::string> SystemFiles() {
    std::set<std::string> names;
    for (auto& entry : std::filesystem::directory_iterator(machine_.Host("C:\\WINDOWS\\SYSTEM")))
      names.insert(entry.path().filename().string());
    return names;
  }
};

class W9xPurgeRow : public W9xPurge, public ::testing::WithParamInterface<Row> {};

TEST_P(W9xPurgeRow, RemovesExactlyItsKeysFilesAndPrinters) {
  const Row& row = GetParam();
  SeedEverything();
  auto keys_before = Keys();
  auto files_before = SystemFiles();
  auto printers_before = Printers();

  RunResult r = Run(std::string("/f") + row.selector + " " + kRecorder);
  EXPECT_EQ(r.exit_code, 0) << r.err;

  std::vector<std::string> gone_keys = {kStatusMonitor, std::string(kStatusMonitor) + "\\Settings",
                                        "HKEY_LOCAL_MACHINE\\Enum\\LPTENUM\\" + row.lpt,
                                        "HKEY_LOCAL_MACHINE\\Enum\\LPTENUM\\" + row.lpt + "\\0000"};
  for (const std::string& driver : row.drivers) {
    auto keys = DriverKeys(driver);
    gone_keys.insert(gone_keys.end(), keys.begin(), keys.end());
  }
  EXPECT_TRUE(SameNames(Keys(), Minus(keys_before, gone_keys)));
  EXPECT_TRUE(SameNames(SystemFiles(), Minus(files_before, row.files)));
  EXPECT_TRUE(SameNames(Printers(), Minus(printers_before, row.printers)));
  EXPECT_TRUE(machine_.Exists("C:\\KIT\\K5583.drv"));
  EXPECT_EQ(WaitForChained(), std::string(" ") + kRecorder + "|C:\\KIT");
  EXPECT_EQ(LeftOpen("W9XPURGE.EXE"), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Rows, W9xPurgeRow, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string("Selector") + info.param.selector; });

TEST_F(W9xPurge, WorksInOrderRegistryFilesPrintersThenTheCommand) {
  SeedEverything();
  ASSERT_EQ(Run(std::string("/f2 ") + kRecorder).exit_code, 0);
  // The phase of each call, in the order made; the sequence must never step back.
  std::map<std::string, int> phase = {{"RegDeleteKeyA", 0}, {"DeleteFileA", 1},  {"FindFirstFileA", 1},
                                      {"_fsopen", 1},       {"OpenPrinterA", 2}, {"DeletePrinter", 2},
                                      {"ClosePrinter", 2},  {"WinExec", 3}};
  int last = 0;
  int seen = 0;
  for (const winsim::TraceEntry& line : Trace("W9XPURGE.EXE")) {
    auto it = phase.find(line.call);
    if (it == phase.end()) continue;
    EXPECT_GE(it->second, last) << line.call << "(" << line.args << ")";
    last = std::max(last, it->second);
    ++seen;
  }
  EXPECT_EQ(last, 3);
  EXPECT_GT(seen, 20);
}

TEST_F(W9xPurge, RetriesARefusedOpenAndCarriesTheRecordToTheSecondPrinter) {
  AddPrinter("Pardu Strivon K3vn PCL-5e", /*needs_admin=*/true);
  AddPrinter("Quorl K5583 PCL 6");
  ASSERT_EQ(Run("/f2").exit_code, 0);
  EXPECT_EQ(Printers(), std::set<std::string>{});
  std::vector<std::string> opens;
  for (const winsim::TraceEntry& line : Trace("W9XPURGE.EXE")) {
    if (line.call == "OpenPrinterA") opens.push_back(line.args);
  }
  ASSERT_EQ(opens.size(), 3u) << "first printer twice, second once";
  EXPECT_EQ(opens[0].find("RAW"), std::string::npos);
  EXPECT_NE(opens[1].find("\"RAW\""), std::string::npos);
  EXPECT_NE(opens[1].find("0x10004"), std::string::npos);
  EXPECT_NE(opens[2].find("\"RAW\""), std::string::npos) << "the filled record stays for the next printer";
  EXPECT_NE(opens[2].find("0x10004"), std::string::npos);
}

TEST_F(W9xPurge, OemInfFilesHoldingTheDriverSectionGoWhereverTheyAre) {
  const std::string header = "[K5583.DRV]\r\n";
  const std::map<std::string, std::pair<std::string, bool>> files = {
      {"OEM0.INF", {"; first\r\n" + header, true}},
      {"OEM1.INF", {"[Version]\r\nSignature=$CHICAGO$\r\n", false}},
      {"OEM3.INF", {"[k5583.drv]\r\n", false}},
      {"OEM4.INF", {" [K5583.DRV]\r\n", false}},
      {"OEM5.INF", {"[K5583.DRX\n", true}},
      {"OEM6.INF", {std::string(99, 'x') + "[K5583.DRV] after 99 characters\n", true}},
      {"OEM8.INF", {"[Version]\r\n\x1a" + header, false}},
      {"OEM9.INF", {header, false}},  // cannot be opened (fault plan)
      {"OEM12.INF", {"[K5583.DR", true}},
      {"OEM13.INF", {"[K5583.D\n[K5583.", false}},
      {"OEM250.INF", {header, true}},
      {"OEM499.INF", {header, true}},
      {"OEM500.INF", {header, false}},
      {"OEM007.INF", {header, false}},
      {"oem77.inf", {header, true}},
  };
  for (const auto& [name, content] : files) machine_.Write("C:\\WINDOWS\\INF\\" + name, content.first);
  ASSERT_EQ(Winsim(machine_.Folder(), {"fault", "add", "_fsopen", "--match", "OEM9.INF", "--error", "32"}).exit_code,
            0);

  ASSERT_EQ(Run("/fX").exit_code, 0);

  for (const auto& [name, content] : files)
    EXPECT_EQ(machine_.Exists("C:\\WINDOWS\\INF\\" + name), !content.second) << name;
  std::vector<std::string> examined;
  for (const winsim::TraceEntry& line : Trace("W9XPURGE.EXE")) {
    if (line.call == "FindFirstFileA") examined.push_back(line.args);
  }
  ASSERT_EQ(examined.size(), 500u);
  EXPECT_NE(examined.front().find("\\\\inf\\\\OEM0.INF"), std::string::npos) << examined.front();
  EXPECT_NE(examined.back().find("\\\\inf\\\\OEM499.INF"), std::string::npos) << examined.back();
  EXPECT_EQ(LeftOpen("W9XPURGE.EXE"), std::vector<std::string>{});
}

TEST_F(W9xPurge, ASelectorWithoutARowStillClearsTheStatusMonitorAndOemInfs) {
  SeedEverything();
  machine_.Write("C:\\WINDOWS\\INF\\OEM2.INF", "[K5583.DRV]\n");
  auto keys_before = Keys();
  auto files_before = SystemFiles();
  ASSERT_EQ(Run(std::string("/f5 ") + kRecorder).exit_code, 0);
  EXPECT_TRUE(SameNames(Keys(), Minus(keys_before, {kStatusMonitor, std::string(kStatusMonitor) + "\\Settings"})));
  EXPECT_EQ(SystemFiles(), files_before);
  EXPECT_FALSE(machine_.Exists("C:\\WINDOWS\\INF\\OEM2.INF"));
  EXPECT_EQ(Printers().size(), 5u);
  EXPECT_EQ(WaitForChained(), std::string(" ") + kRecorder + "|C:\\KIT");
}

TEST_F(W9xPurge, ATailWithoutASlashChangesNothingAndStartsNothing) {
  SeedEverything();
  ASSERT_EQ(Winsim(machine_.Folder(), {"snapshot", (machine_.Folder() / "before.snap").string()}).exit_code, 0);
  for (const char* tail : {"", "f2 RECORD.EXE", "  -f2"}) {
    SCOPED_TRACE(tail);
    EXPECT_EQ(Run(tail).exit_code, 0);
  }
  RunResult diff = Winsim(machine_.Folder(), {"diff", (machine_.Folder() / "before.snap").string()});
  EXPECT_EQ(diff.exit_code, 0);
  EXPECT_NE(diff.out.find("no changes"), std::string::npos) << diff.out;
  for (const winsim::TraceEntry& line : Trace("W9XPURGE.EXE")) EXPECT_NE(line.call, "WinExec");
}

TEST_F(W9xPurge, ASlashWithAnotherLetterRunsTheSequenceButStartsNothing) {
  SeedEverything();
  machine_.Write("C:\\WINDOWS\\INF\\OEM2.INF", "[K5583.DRV]\n");
  ASSERT_EQ(Run(std::string("/x2 ") + kRecorder).exit_code, 0);
  EXPECT_EQ(Keys().count(kStatusMonitor), 0u);
  EXPECT_FALSE(machine_.Exists("C:\\WINDOWS\\INF\\OEM2.INF"));
  EXPECT_EQ(Printers().size(), 5u);
  for (const winsim::TraceEntry& line : Trace("W9XPURGE.EXE")) EXPECT_NE(line.call, "WinExec");
}

}  // namespace
}  // namespace testing_support
