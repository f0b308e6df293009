// The uninstaller command line, read the same way by both uninstallers:
// optional blanks, a slash, the letter f or F, the model selector, the chained command.
#ifndef UNINSTALL_COMMAND_LINE_H
#define UNINSTALL_COMMAND_LINE_H

#include <windows.h>

// Reads the command tail in place. Returns FALSE when the tail (after its blanks) does not begin
// with a slash: then nothing is to be done at all. After "/f" or "/F", *selector receives the next
// byte whatever it is (the terminating NUL included) and *chained points one character past it,
// blanks kept; after a slash and any other character both are left as they were.
BOOL ParseUninstallerCommandLine(LPSTR tail, char* selector, LPSTR* chained);

#endif
