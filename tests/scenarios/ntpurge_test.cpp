// ntpurge on fresh Windows NT 4.0 machines, read back from the machine.
#include <string>

#include "uninstaller_fixture.h"

namespace testing_support {
namespace {

const char kPrinters[] = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\";
const char kDrivers[] =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows NT X86\\Drivers\\Version-2\\";

struct Row {
  char selector;
  std::string driver;
  std::vector<std::string> printers;
};

const Row kRows[] = {
    {'1', "Dunvik VX-410 PCL5e", {"Dunvik VX-315 PCL5e"}},
    {'2', "Quorl K4471 PCL", {"Quorl K4471 PCL", "Pardu Strivon K3vn PCL 6"}},
    {'3', "Dunvik VX-310 PCL5e", {"Dunvik VX-310 PCL5e"}},
    {'4', "Velmora 310 PCL5e", {"Velmora 310 PCL5e"}},
};

const char* kAllPrinters[] = {
    "Dunvik VX-315 PCL5e", "Dunvik VX-410 PCL5e", "Quorl K4471 PCL", "Pardu Strivon K3vn PCL 6",
    "Dunvik VX-310 PCL5e", "Velmora 310 PCL5e",   "Office Laser"};

class NtPurge : public UninstallerScenario {
 protected:
  NtPurge() : UninstallerScenario(winsim::WindowsFlavour::Nt4, "ntpurge.exe", "C:\\KIT\\NTPURGE.EXE") {}

  void SeedEverything() {
    std::string reg;
    for (const char* driver : {"Dunvik VX-410 PCL5e", "Dunvik VX-315 PCL5e", "Quorl K4471 PCL", "Dunvik VX-310 PCL5e",
                               "Velmora 310 PCL5e", "Office Laser"}) {
      reg += "[" + std::string(kPrinters) + driver + "\\PrinterDriverData]\r\n\"Copies\"=dword:00000001\r\n";
      reg += "[" + std::string(kDrivers) + driver + "]\r\n\"Driver\"=\"x.dll\"\r\n";
    }
    Import(reg);
    for (const char* printer : kAllPrinters) AddPrinter(printer);
  }
};

class NtPurgeRow : public NtPurge, public ::testing::WithParamInterface<Row> {};

TEST_P(NtPurgeRow, RemovesExactlyItsKeysAndPrinters) {
  const Row& row = GetParam();
  SeedEverything();
  auto keys_before = Keys();
  auto printers_before = Printers();

  EXPECT_EQ(Run(std::string("/f") + row.selector + " " + kRecorder).exit_code, 0);

  // PrinterDriverData must go first: NT refuses to delete a key that still has subkeys.
  EXPECT_TRUE(SameNames(Keys(), Minus(keys_before, {kPrinters + row.driver + "\\PrinterDriverData",
                                                    kPrinters + row.driver, kDrivers + row.driver})));
  EXPECT_TRUE(SameNames(Printers(), Minus(printers_before, row.printers)));
  EXPECT_EQ(WaitForChained(), std::string(" ") + kRecorder + "|C:\\KIT");
  EXPECT_EQ(LeftOpen("NTPURGE.EXE"), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Rows, NtPurgeRow, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string("Selector") + info.param.selector; });

TEST_F(NtPurge, OpensEachPrinterOnceAskingToDelete) {
  SeedEverything();
  ASSERT_EQ(Run("/F2").exit_code, 0);
  std::vector<std::string> opens;
  for (const winsim::TraceEntry& line : Trace("NTPURGE.EXE")) {
    if (line.call == "OpenPrinterA") opens.push_back(line.args);
  }
  ASSERT_EQ(opens.size(), 2u);
  EXPECT_NE(opens[0].find("\"Quorl K4471 PCL\""), std::string::npos);
  EXPECT_NE(opens[1].find("\"Pardu Strivon K3vn PCL 6\""), std::string::npos);
  for (const std::string& args : opens) {
    EXPECT_NE(args.find("\"RAW\""), std::string::npos) << args;
    EXPECT_NE(args.find("0x10004"), std::string::npos) << args;
  }
}

TEST_F(NtPurge, AMissingOrRefusedPrinterLeavesTheRestOfTheRunAlone) {
  // Row 2's first printer is missing and the spooler refuses to open its second.
  Import("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Quorl K4471 PCL]\r\n");
  AddPrinter("Pardu Strivon K3vn PCL 6");
  AddPrinter("Office Laser");
  ASSERT_EQ(Winsim(machine_.Folder(), {"fault", "add", "OpenPrinterA", "--match", "Pardu", "--error", "5"}).exit_code,
            0);
  ASSERT_EQ(Run(std::string("/f2 ") + kRecorder).exit_code, 0);
  EXPECT_EQ(Printers(), (std::set<std::string>{"Pardu Strivon K3vn PCL 6", "Office Laser"}));
  EXPECT_EQ(Keys().count(kPrinters + std::string("Quorl K4471 PCL")), 0u);
  EXPECT_EQ(WaitForChained(), std::string(" ") + kRecorder + "|C:\\KIT");
  // No delete or close on a handle that a failed open did not give.
  for (const winsim::TraceEntry& line : Trace("NTPURGE.EXE")) {
    EXPECT_NE(line.call, "DeletePrinter");
    EXPECT_NE(line.call, "ClosePrinter");
  }
  EXPECT_EQ(LeftOpen("NTPURGE.EXE"), std::vector<std::string>{});
}

TEST_F(NtPurge, ASelectorWithoutARowDeletesNothingButStartsTheCommand) {
  SeedEverything();
  auto keys_before = Keys();
  for (const char* tail : {"/f9", "/f0", "/f"}) {
    SCOPED_TRACE(tail);
    EXPECT_EQ(Run(std::string(tail) + " " + kRecorder).exit_code, 0);
  }
  EXPECT_EQ(Keys(), keys_before);
  EXPECT_EQ(Printers().size(), std::size(kAllPrinters));
  EXPECT_EQ(WaitForChained(), std::string(" ") + kRecorder + "|C:\\KIT");
}

TEST_F(NtPurge, ATailWithoutASlashChangesNothingAndStartsNothing) {
  SeedEverything();
  ASSERT_EQ(Winsim(machine_.Folder(), {"snapshot", (machine_.Folder() / "before.snap").string()}).exit_code, 0);
  for (const char* tail : {"", "f2", "-f2 RECORD.EXE"}) EXPECT_EQ(Run(tail).exit_code, 0);
  RunResult diff = Winsim(machine_.Folder(), {"diff", (machine_.Folder() / "before.snap").string()});
  EXPECT_NE(diff.out.find("no changes"), std::string::npos) << diff.out;
  for (const winsim::TraceEntry& line : Trace("NTPURGE.EXE")) EXPECT_NE(line.call, "WinExec");
}

}  // namespace
}  // namespace testing_support
