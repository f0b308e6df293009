// K4471PNP on a Windows 98 machine: its phases as RunDLL32 runs them, and its uninstall hooks as an
// uninstall program calls them.
#include <string>
#include <vector>

#include "scenario.h"
#include "temp_machine.h"

namespace sweep {
namespace {

const std::string kNode = "Enum\\LPTENUM\\QUORLK44710E4E\\LPT1";
const std::string kInstallerLine = kNode + " C:\\KIT\\SETUP";
const std::string kRunKey = "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n";

// A printer's device node and the library, beside a device node and a Run value of other software.
void SeedLibrary(MachineTemplate& machine) {
  machine.Put(testing_support::BinPath("K4471PNP.dll"), "C:\\WINDOWS\\SYSTEM\\K4471PNP.DLL");
  machine.Import("[HKEY_LOCAL_MACHINE\\" + kNode +
                 "]\r\n\"Model\"=\"Quorl K4471 PCL\"\r\n\"Class\"=\"Printer\"\r\n"
                 "[HKEY_LOCAL_MACHINE\\Enum\\LPTENUM\\OTHERPRINTER0001\\LPT2]\r\n\"Model\"=\"Other Laser\"\r\n" +
                 kRunKey + "\"Other Tool\"=\"C:\\\\TOOL.EXE\"\r\n");
  machine.PutNoOpProgram("C:\\KIT\\SETUP\\Setup.Exe");
}

void SeedWithShell(MachineTemplate& machine) {
  SeedLibrary(machine);
  machine.Winsim({"window", "add", "Program Manager"});
}

// Text as a REGEDIT4 "..." holds it.
std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) out += c == '\\' || c == '"' ? std::string{'\\', c} : std::string{c};
  return out + "\"";
}

// What the first phase leaves when the shell is not running.
void SeedScheduled(MachineTemplate& machine) {
  SeedLibrary(machine);
  machine.Import("[HKEY_LOCAL_MACHINE\\" + kNode + "]\r\n\"ConfigFlags\"=hex:00,00,00,00\r\n" + kRunKey +
                 "\"Quorl K4471 PCL\"=" + Quoted("RunDLL32 K4471PNP,StartPrinterInstallation " + kInstallerLine) +
                 "\r\n");
}

// The first phase's stand-in holds the lock while the second phase starts.
void SeedScheduledAndLocked(MachineTemplate& machine) {
  SeedScheduled(machine);
  machine.Put(testing_support::BinPath("lock_holder.exe"), "C:\\KIT\\HOLDER.EXE");
}

void SeedInstalled(MachineTemplate& machine) {
  SeedLibrary(machine);
  machine.Import("[HKEY_LOCAL_MACHINE\\" + kNode + "]\r\n\"ConfigFlags\"=hex:00,00,00,00\r\n");
  machine.Put(testing_support::BinPath("uninstall_standin.exe"), "C:\\KIT\\UNINST.EXE");
}

const std::set<std::string> kHostCalls = {"GetModuleHandleA", "LoadLibraryA", "GetProcAddress", "FreeLibrary"};
// Whatever became of the steps before, each phase reads the shell's caption and opens the node.
const std::set<std::string> kPhaseSteps = {"LoadStringA", "RegOpenKeyA"};

Scenario Phase(std::string name, void (*seed)(MachineTemplate&), const std::string& entry) {
  Scenario scenario{std::move(name), "98", seed, "RUNDLL32.EXE K4471PNP," + entry + " " + kInstallerLine,
                    "RUNDLL32.EXE",  0,    1,    kPhaseSteps,
                    kHostCalls};
  // The second phase deletes the node's mark and writes it again once the Run value is gone.
  if (entry == "StartPrinterInstallation") scenario.rewritten = {"- value HKLM\\" + kNode + "\\\"ConfigFlags\""};
  return scenario;
}

// The second phase started while another process holds the lock: it waits, then goes on.
Scenario WaitingPhase() {
  Scenario scenario = Phase("second phase, waiting for the lock", SeedScheduledAndLocked, "StartPrinterInstallation");
  scenario.command = "C:\\KIT\\HOLDER.EXE " + scenario.command;
  return scenario;
}

}  // namespace

std::vector<Scenario> LibraryScenarios() {
  return {
      Phase("first phase, shell running", SeedWithShell, "SchedulePrinterInstallation"),
      Phase("first phase, no shell", SeedLibrary, "SchedulePrinterInstallation"),
      Phase("second phase", SeedScheduled, "StartPrinterInstallation"),
      WaitingPhase(),
      {"UninstUnInitialize",
       "98",
       SeedInstalled,
       "C:\\KIT\\UNINST.EXE",
       "UNINST.EXE",
       0,
       0,
       {"RegOpenKeyA", "ExitWindowsEx"},
       kHostCalls},
  };
}

std::vector<Scenario> AllocationScenarios() {
  return {
      Phase("first phase", SeedLibrary, "SchedulePrinterInstallation"),
      Phase("second phase", SeedScheduled, "StartPrinterInstallation"),
  };
}

}  // namespace sweep
