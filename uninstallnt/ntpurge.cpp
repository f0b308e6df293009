// ntpurge: removes one printer model of the kit from Windows NT 4.0, silently, then starts the
// chained command of its command line.
#include <windows.h>

#include "command_line.h"
#include "model_table.h"

namespace {

char g_modelSelector = '\0';
LPSTR g_chainedCommand = NULL;
HANDLE g_printer = NULL;
PRINTER_DEFAULTSA g_printerDefaults = {NULL, NULL, 0};

char kRawDatatype[] = "RAW";
const ACCESS_MASK kDeleteAndAdminister = DELETE | PRINTER_ACCESS_ADMINISTER;

// One open attempt, asking at once for the rights that deleting needs. The delete and the close
// act only on a handle that this open gave.
void DeleteNamedPrinter(LPCSTR name) {
  g_printerDefaults.pDatatype = kRawDatatype;
  g_printerDefaults.DesiredAccess = kDeleteAndAdminister;
  g_printer = NULL;
  if (!OpenPrinterA(const_cast<LPSTR>(name), &g_printer, &g_printerDefaults)) return;
  DeletePrinter(g_printer);
  ClosePrinter(g_printer);
}

}  // namespace

extern "C" int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd) {
  if (!ParseUninstallerCommandLine(lpCmdLine, &g_modelSelector, &g_chainedCommand)) return 0;

  const NtModelRow* row = FindNtModelRow(g_modelSelector);
  if (row) {
    for (LPCSTR key : row->driverKeys) RegDeleteKeyA(HKEY_LOCAL_MACHINE, key);
    DeleteNamedPrinter(row->firstPrinter);
    if (row->secondPrinter) DeleteNamedPrinter(row->secondPrinter);
  }
  // Without "/f" there is no chained command to start.
  if (g_chainedCommand) WinExec(g_chainedCommand, SW_SHOW);
  return 0;
}
