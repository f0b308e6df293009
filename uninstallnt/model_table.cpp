#include "model_table.h"

namespace {

// Row '1' deletes the VX-315 printer but the driver keys of the VX-410.
const NtModelRow kModelTable[] = {
    {'1',
     "Dunvik VX-315 PCL5e",
     NULL,
     {
         "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Dunvik VX-410 PCL5e\\PrinterDriverData",
         "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Dunvik VX-410 PCL5e",
         "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows NT X86\\Drivers\\Version-2\\Dunvik VX-410 "
         "PCL5e",
     }},
    {'2',
     "Quorl K4471 PCL",
     "Pardu Strivon K3vn PCL 6",
     {
         "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Quorl K4471 PCL\\PrinterDriverData",
         "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Quorl K4471 PCL",
         "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows NT X86\\Drivers\\Version-2\\Quorl K4471 PCL",
     }},
    {'3',
     "Dunvik VX-310 PCL5e",
     NULL,
     {
         "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Dunvik VX-310 PCL5e\\PrinterDriverData",
         "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Dunvik VX-310 PCL5e",
         "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows NT X86\\Drivers\\Version-2\\Dunvik VX-310 "
         "PCL5e",
     }},
    {'4',
     "Velmora 310 PCL5e",
     NULL,
     {
         "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Velmora 310 PCL5e\\PrinterDriverData",
         "SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Velmora 310 PCL5e",
         "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows NT X86\\Drivers\\Version-2\\Velmora 310 "
         "PCL5e",
     }},
};

}  // namespace

const NtModelRow* FindNtModelRow(char selector) {
  for (const NtModelRow& row : kModelTable) {
    if (row.selector == selector) return &row;
  }
  return NULL;
}
