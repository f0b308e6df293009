// StartPrinterInstallation: checks the first phase's mark, removes the Run value and starts the
// setup program from the installation directory.
#include "exports.h"

#include "device_node_key.h"
#include "error_box.h"
#include "install_lock.h"
#include "installer_command_line.h"
#include "resource.h"
#include "setup_program.h"
#include "shell_caption.h"

extern "C" void CALLBACK StartPrinterInstallation(HWND hwnd, HINSTANCE hinst, LPSTR lpszCmdLine, int nCmdShow) {
  // Declared in the order of taking; destroyed in reverse, so the lock goes back last.
  InstallLock lock;
  ShellCaptionLoader shell;
  const InstallerCommandLine command_line(lpszCmdLine);
  DeviceNodeKey node(command_line.device_node_path);
  const CountedString model = node.GetModel();
  // A node without its mark was not prepared by the first phase, or is corrupted.
  if (model.IsEmpty() || !node.SetConfigFlags(FALSE) || !shell.ScheduleDeferredCommand(model, nullptr, FALSE)) {
    ErrorBox(hwnd, IDS_CORRUPTED_DEVNODE, IDS_DELAYED_INSTALL_FAILURE);
    return;
  }
  node.SetConfigFlags(TRUE);
  // The setup program inherits this directory; if it can't be set, it starts all the same.
  SetCurrentDirectoryA(command_line.installation_directory);
  const CountedString program = SetupProgramPath(command_line.installation_directory);
  if (!StartSetupProgram(program)) ErrorBox(hwnd, IDS_SETUP_NOT_STARTED, IDS_DELAYED_INSTALL_FAILURE);
}
