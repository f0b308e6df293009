#include "model_table.h"

const char kStatusMonitorKey[] = "SOFTWARE\\Velmora\\Tarnwick Window";

namespace {

const LPCSTR kVx410DriverKeys[] = {
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Dunvik VX-410 PCL5e\\PrinterDriverData",
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Dunvik VX-410 PCL5e",
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows 4.0\\Drivers\\Dunvik VX-410 PCL5e",
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Dunvik VX-410 PCLXL\\PrinterDriverData",
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Dunvik VX-410 PCLXL",
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows 4.0\\Drivers\\Dunvik VX-410 PCLXL",
    NULL,
};

const LPCSTR kK5583DriverKeys[] = {
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Quorl K5583 PCL 6\\PrinterDriverData",
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Quorl K5583 PCL 6",
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows 4.0\\Drivers\\Quorl K5583 PCL 6",
    NULL,
};

const LPCSTR kVx310DriverKeys[] = {
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Dunvik VX-310 PCL5e\\PrinterDriverData",
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Dunvik VX-310 PCL5e",
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows 4.0\\Drivers\\Dunvik VX-310 PCL5e",
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Dunvik VX-310 PCLXL\\PrinterDriverData",
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Dunvik VX-310 PCLXL",
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows 4.0\\Drivers\\Dunvik VX-310 PCLXL",
    NULL,
};

const LPCSTR kVelmora310DriverKeys[] = {
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Velmora 310 PCL5e\\PrinterDriverData",
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Velmora 310 PCL5e",
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows 4.0\\Drivers\\Velmora 310 PCL5e",
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Velmora 310 PCLXL\\PrinterDriverData",
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Velmora 310 PCLXL",
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows 4.0\\Drivers\\Velmora 310 PCLXL",
    NULL,
};

const LPCSTR kNoDriverFiles[] = {NULL};

// The K5583 letter series skips "f".
const LPCSTR kK5583DriverFiles[] = {
    "K5583.drv",  "K5583.hlp",  "K5583.gid",  "K5583.inf",  "K5583a.dll", "K5583b.dll",
    "K5583c.dll", "K5583d.dll", "K5583e.dll", "K5583g.dll", "K5583h.dll", "K5583i.dll",
    "K5583j.w31", "K5583j.w95", "K5583x.dll", "K5583k.dll", NULL,
};

const LPCSTR kVx310DriverFiles[] = {"Vx310.drv", "Vx310us.dll", NULL};

const ModelRow kModelTable[] = {
    {'1', "Dunvik VX-410 PCL5e", "Quorl K5583 PCL 6", kVx410DriverKeys, "Enum\\LPTENUM\\VELMORAVX-410FE43",
     kNoDriverFiles},
    {'2', "Pardu Strivon K3vn PCL-5e", "Quorl K5583 PCL 6", kK5583DriverKeys, "Enum\\LPTENUM\\QUORLK5583599E",
     kK5583DriverFiles},
    {'3', "Dunvik VX-310 PCL5e", "Quorl K5583 PCL 6", kVx310DriverKeys, "Enum\\LPTENUM\\VELMORAVX-3100242",
     kVx310DriverFiles},
    {'4', "Pardu Strivon K3vn PCL-5e", "Quorl K5583 PCL 6", kVelmora310DriverKeys,
     "Enum\\LPTENUM\\ParduStrivon_P14D08A", kVx310DriverFiles},
};

}  // namespace

const ModelRow* FindModelRow(char selector) {
  for (const ModelRow& row : kModelTable) {
    if (row.selector == selector) return &row;
  }
  return NULL;
}
