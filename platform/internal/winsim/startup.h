// The program start-up of the machine's runtime.
#ifndef WINSIM_STARTUP_H
#define WINSIM_STARTUP_H

#include <windows.h>

#include <string>
#include <vector>

namespace winsim {

// The command tail handed to WinMain: the command line less the program name and the bytes
// 0x01 to 0x20 after it. A quoted name ends at the next quote that is not a double-byte trail byte.
LPSTR CommandTail(LPSTR command_line);

// A Windows command line for a program started from a Linux shell: its arguments, each quoted
// when it holds blanks or is empty.
std::string CommandLineFromArguments(const std::vector<std::string>& args);

// Sets up this process on the machine from its environment (machine, command line, current
// directory, image, show state). Throws MachineError when there is no machine.
void StartUpProcess(int argc, char** argv);

// The show state for WinMain: the start-up record's when it says so, else SW_SHOWDEFAULT.
int StartupShowState();

}  // namespace winsim

#endif
