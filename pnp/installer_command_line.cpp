#include "installer_command_line.h"

InstallerCommandLine::InstallerCommandLine(const char* command_line) {
  const CountedString line(command_line);
  const int blank = line.Find(' ');
  if (blank > 0) {
    device_node_path = line.Left(blank);
    installation_directory = line.Right(line.GetLength() - blank - 1);
  } else {
    device_node_path = line;
  }
}
