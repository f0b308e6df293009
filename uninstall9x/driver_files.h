// The system-directory stage: the model's driver files.
#ifndef W9XPURGE_DRIVER_FILES_H
#define W9XPURGE_DRIVER_FILES_H

#include <windows.h>

// Deletes the named files (a null-terminated list, or null for none) from the system directory by bare
// name, and leaves the current directory as it found it.
void DeleteDriverFiles(const LPCSTR* names);

#endif
