// The installer command line: device node path, one blank, installation directory.
#ifndef K4471PNP_INSTALLER_COMMAND_LINE_H
#define K4471PNP_INSTALLER_COMMAND_LINE_H

#include "counted_string.h"

struct InstallerCommandLine {
  // Split at the first blank. Without a blank, or with one in front, the whole line is the device
  // node path and the directory is empty. A null line reads as empty.
  explicit InstallerCommandLine(const char* command_line);

  CountedString device_node_path;
  CountedString installation_directory;
};

#endif
