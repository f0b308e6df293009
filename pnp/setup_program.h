// The setup program in the installation directory, which the second phase starts.
#ifndef K4471PNP_SETUP_PROGRAM_H
#define K4471PNP_SETUP_PROGRAM_H

#include "counted_string.h"

// "SETUP.EXE" after a directory whose last character is a backslash, else "\Setup.Exe".
CountedString SetupProgramPath(const CountedString& installation_directory);

// Starts the program without waiting for it, trying a few times; true once it has started. A path
// holding a double quote names no program and starts nothing.
bool StartSetupProgram(const CountedString& program_path);

#endif
