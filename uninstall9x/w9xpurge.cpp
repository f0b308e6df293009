// w9xpurge: removes one printer model of the family from Windows 95 and 98, silently, then
// starts the chained command of its command line.
#include <windows.h>

#include "command_line.h"
#include "driver_files.h"
#include "model_table.h"
#include "oem_inf.h"
#include "printer_deletion.h"

namespace {

char g_modelSelector = '\0';
LPSTR g_chainedCommand = NULL;
HANDLE g_printer = NULL;
PRINTER_DEFAULTSA g_printerDefaults = {NULL, NULL, 0};

void DeleteModelKeys(const ModelRow* row) {
  for (const LPCSTR* key = row->driverKeys; *key; ++key) RegDeleteKeyA(HKEY_LOCAL_MACHINE, *key);
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, row->lptDeviceKey);
}

}  // namespace

extern "C" int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd) {
  if (!ParseUninstallerCommandLine(lpCmdLine, &g_modelSelector, &g_chainedCommand)) return 0;

  const ModelRow* row = FindModelRow(g_modelSelector);
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kStatusMonitorKey);
  if (row) DeleteModelKeys(row);

  DeleteDriverFiles(row ? row->driverFiles : NULL);
  DeleteOemInfFiles();

  if (row) {
    DeleteNamedPrinter(row->firstPrinter, &g_printer, &g_printerDefaults);
    DeleteNamedPrinter(row->secondPrinter, &g_printer, &g_printerDefaults);
  }
  // Without "/f" there is no chained command to start.
  if (g_chainedCommand) WinExec(g_chainedCommand, SW_SHOW);
  return 0;
}
