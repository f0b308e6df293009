// SchedulePrinterInstallation: marks the printer's device node and arranges for the second phase
// to run with the same installer command line.
#include "exports.h"

#include "device_node_key.h"
#include "error_box.h"
#include "install_lock.h"
#include "installer_command_line.h"
#include "resource.h"
#include "shell_caption.h"

namespace {

constexpr char kSecondPhaseCall[] = "StartPrinterInstallation ";

}  // namespace

extern "C" void CALLBACK SchedulePrinterInstallation(HWND hwnd, HINSTANCE hinst, LPSTR lpszCmdLine, int nCmdShow) {
  // Declared in the order of taking; destroyed in reverse, so the lock goes back last.
  InstallLock lock;
  const InstallerCommandLine command_line(lpszCmdLine);
  ShellCaptionLoader shell;
  DeviceNodeKey node(command_line.device_node_path);
  const CountedString model = node.GetModel();
  if (model.IsEmpty()) {
    ErrorBox(hwnd, IDS_NO_MODEL, IDS_INSTALL_FAILURE);
    return;
  }
  node.SetConfigFlags(TRUE);
  // The second phase gets the command line whole, as received (a null one as empty text).
  const CountedString export_call = CountedString(kSecondPhaseCall) + lpszCmdLine;
  if (!shell.ScheduleDeferredCommand(model, export_call, TRUE)) {
    ErrorBox(hwnd, IDS_REGISTER_FAILED, IDS_INSTALL_FAILURE);
  }
}
