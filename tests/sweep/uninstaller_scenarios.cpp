// The uninstallers on machines that hold every model of the kit and some software of others.
#include <string>
#include <vector>

#include "scenario.h"
#include "temp_machine.h"

namespace sweep {
namespace {

const std::string kPrinters9x = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\";
const std::string kDrivers9x =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows 4.0\\Drivers\\";
const std::string kDriversNt =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows NT X86\\Drivers\\Version-2\\";

const char* const kFiles9x[] = {"K5583.drv",  "K5583.hlp",  "K5583.gid",   "K5583.inf",  "K5583a.dll",
                                "K5583b.dll", "K5583c.dll", "K5583d.dll",  "K5583e.dll", "K5583g.dll",
                                "K5583h.dll", "K5583i.dll", "K5583j.w31",  "K5583j.w95", "K5583x.dll",
                                "K5583k.dll", "Vx310.drv",  "Vx310us.dll", "K5583f.dll", "OTHER.DRV"};

std::string DriverKeys(const std::string& printers, const std::string& drivers, const std::string& name) {
  return "[" + printers + name + "\\PrinterDriverData]\r\n\"Copies\"=dword:00000001\r\n[" + drivers + name +
         "]\r\n\"Driver\"=\"x.drv\"\r\n";
}

void Seed9x(MachineTemplate& machine) {
  std::string reg =
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Tarnwick Window\\Settings]\r\n\"Poll\"=dword:00000005\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmora\\Other Tool]\r\n"
      "[HKEY_LOCAL_MACHINE\\Enum\\LPTENUM\\OTHERPRINTER0001]\r\n";
  for (const char* lpt : {"VELMORAVX-410FE43", "QUORLK5583599E", "VELMORAVX-3100242", "ParduStrivon_P14D08A"})
    reg += "[HKEY_LOCAL_MACHINE\\Enum\\LPTENUM\\" + std::string(lpt) + "\\0000]\r\n\"Model\"=\"x\"\r\n";
  for (const char* driver : {"Unrelated Laser", "Dunvik VX-410 PCL5e", "Dunvik VX-410 PCLXL", "Quorl K5583 PCL 6",
                             "Dunvik VX-310 PCL5e", "Dunvik VX-310 PCLXL", "Velmora 310 PCL5e", "Velmora 310 PCLXL"})
    reg += DriverKeys(kPrinters9x, kDrivers9x, driver);
  machine.Import(reg);
  for (const char* file : kFiles9x) machine.Write("C:\\WINDOWS\\SYSTEM\\" + std::string(file), "driver");
  machine.Write("C:\\KIT\\K5583.drv", "a copy beside the uninstaller");
  // Two OEM INF files that hold the section (one only in the second piece of a long line), one that
  // does not.
  machine.Write("C:\\WINDOWS\\INF\\OEM0.INF", "[Version]\r\n\r\n[K5583.DRV]\r\nCopyFiles=K\r\n");
  machine.Write("C:\\WINDOWS\\INF\\OEM3.INF", "[Version]\r\n\r\n[OTHER.DRV]\r\n");
  machine.Write("C:\\WINDOWS\\INF\\OEM250.INF", "; " + std::string(97, '-') + "[K5583.DRV]\r\n");
  for (const char* printer :
       {"Dunvik VX-410 PCL5e", "Quorl K5583 PCL 6", "Pardu Strivon K3vn PCL-5e", "Dunvik VX-310 PCL5e", "Office Laser"})
    machine.Winsim({"printer", "add", printer, "--driver", printer, "--port", "LPT1:"});
  machine.Put(testing_support::BinPath("w9xpurge.exe"), "C:\\KIT\\W9XPURGE.EXE");
  machine.PutNoOpProgram("C:\\KIT\\DONE.EXE");
}

void SeedNt(MachineTemplate& machine) {
  std::string reg;
  for (const char* driver : {"Dunvik VX-410 PCL5e", "Dunvik VX-315 PCL5e", "Quorl K4471 PCL", "Dunvik VX-310 PCL5e",
                             "Velmora 310 PCL5e", "Office Laser"})
    reg += DriverKeys(kPrinters9x, kDriversNt, driver);
  machine.Import(reg);
  for (const char* printer :
       {"Dunvik VX-315 PCL5e", "Dunvik VX-410 PCL5e", "Quorl K4471 PCL", "Pardu Strivon K3vn PCL 6", "Office Laser"})
    machine.Winsim({"printer", "add", printer, "--driver", printer, "--port", "LPT1:", "--needs-admin"});
  machine.Put(testing_support::BinPath("ntpurge.exe"), "C:\\KIT\\NTPURGE.EXE");
  machine.PutNoOpProgram("C:\\KIT\\DONE.EXE");
}

const std::set<std::string> kSteps9x = {"RegDeleteKeyA", "GetCurrentDirectoryA", "OpenPrinterA", "WinExec"};
const std::set<std::string> kStepsNt = {"RegDeleteKeyA", "OpenPrinterA", "WinExec"};

}  // namespace

std::vector<Scenario> UninstallerScenarios() {
  return {
      {"w9xpurge /f2", "98", Seed9x, "C:\\KIT\\W9XPURGE.EXE /f2 C:\\KIT\\DONE.EXE", "W9XPURGE.EXE", 0, 0, kSteps9x},
      {"w9xpurge /f1", "98", Seed9x, "C:\\KIT\\W9XPURGE.EXE /f1 C:\\KIT\\DONE.EXE", "W9XPURGE.EXE", 0, 0, kSteps9x},
      {"ntpurge /f2", "nt4", SeedNt, "C:\\KIT\\NTPURGE.EXE /f2 C:\\KIT\\DONE.EXE", "NTPURGE.EXE", 0, 0, kStepsNt},
  };
}

}  // namespace sweep
