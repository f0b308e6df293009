// The whole installation on a Windows 98 machine, each RunDLL32 process of it swept: the printer
// installation's first phase, the second phase that it starts at once while the shell runs or that
// the shell starts from the Run key, and the setup program. Whatever call fails, a user must see the
// installation end: the setup program started, an error box, or the second phase waiting in the Run
// key for the shell's next start.
#include <string>
#include <vector>

#include "scenario.h"
#include "temp_machine.h"

namespace sweep {
namespace {

const std::string kNode = "Enum\\LPTENUM\\QUORLK44710E4E\\LPT1";
const std::string kInstallerLine = kNode + " C:\\KIT\\SETUP";
const std::string kModel = "Quorl K4471 PCL";
// The program as the trace names it.
const std::string kSetupProgram = "Setup.Exe";
// The second phase in the Run key, as winsim diff shows it added.
const std::string kStoredSecondPhase = "+ value HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\\"" + kModel +
                                       "\" (\"RunDLL32 K4471PNP,StartPrinterInstallation ";

const char kSetupStarted[] = "the setup program started";

// The library, a printer's device node beside another's, a Run value of other software, and the
// stand-in setup program in the installation folder.
void SeedInstallation(MachineTemplate& machine) {
  machine.Put(testing_support::BinPath("K4471PNP.dll"), "C:\\WINDOWS\\SYSTEM\\K4471PNP.DLL");
  machine.Import("[HKEY_LOCAL_MACHINE\\" + kNode + "]\r\n\"Model\"=\"" + kModel +
                 "\"\r\n\"Class\"=\"Printer\"\r\n"
                 "[HKEY_LOCAL_MACHINE\\Enum\\LPTENUM\\OTHERPRINTER0001\\LPT2]\r\n\"Model\"=\"Other Laser\"\r\n"
                 "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n"
                 "\"Other Tool\"=\"C:\\\\TOOL.EXE\"\r\n");
  machine.PutNoOpProgram("C:\\TOOL.EXE");
  machine.Put(testing_support::BinPath("setup_standin.exe"), "C:\\KIT\\SETUP\\" + kSetupProgram);
}

void SeedWithShell(MachineTemplate& machine) {
  SeedInstallation(machine);
  machine.Winsim({"window", "add", "Program Manager"});
}

std::string Ending(const MachineRun& run) {
  for (const winsim::TraceEntry& entry : run.trace) {
    if (entry.program == kSetupProgram) return kSetupStarted;
  }
  for (const winsim::JournalEntry& entry : run.journal) {
    if (entry.kind == "box") return "an error box";
  }
  for (const std::string& gain : run.gains) {
    if (gain.starts_with(kStoredSecondPhase)) return "the second phase in the Run key";
  }
  return "";
}

Scenario Installation(std::string name, void (*seed)(MachineTemplate&), std::vector<std::vector<std::string>> then) {
  Scenario scenario{std::move(name),
                    "98",
                    seed,
                    "RUNDLL32.EXE K4471PNP,SchedulePrinterInstallation " + kInstallerLine,
                    "RUNDLL32.EXE",
                    0,
                    1,
                    {},
                    {"GetModuleHandleA", "LoadLibraryA", "GetProcAddress", "FreeLibrary"}};
  scenario.then = std::move(then);
  scenario.every_process = true;
  // A release that fails while the other phase already waits on the event leaves that phase waiting
  // for ever: the lock's wait has no time-out. Windows does not fail SetEvent on the holder's own
  // handle, and "second phase, waiting for the lock" sweeps the release on its own.
  scenario.unswept = {"SetEvent"};
  scenario.ending = Ending;
  scenario.healthy_ending = kSetupStarted;
  return scenario;
}

}  // namespace

std::vector<Scenario> InstallationScenarios() {
  return {
      Installation("installation, shell running", SeedWithShell, {}),
      Installation("installation, through the Run key and the shell's start", SeedInstallation,
                   {{"shell", "start", "--wait"}}),
  };
}

}  // namespace sweep
