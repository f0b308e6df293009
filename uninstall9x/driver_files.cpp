#include "driver_files.h"

void DeleteDriverFiles(const LPCSTR* names) {
  char savedDir[256];
  DWORD savedLength = GetCurrentDirectoryA(sizeof savedDir, savedDir);
  // A folder that does not fit could not be made current again afterwards.
  if (savedLength == 0 || savedLength >= sizeof savedDir) return;

  char systemDir[256];
  UINT systemLength = GetSystemDirectoryA(systemDir, sizeof systemDir);
  // Bare names are deleted in the current folder: only ever in the system directory itself.
  if (systemLength != 0 && systemLength < sizeof systemDir && SetCurrentDirectoryA(systemDir)) {
    for (const LPCSTR* name = names; name && *name; ++name) DeleteFileA(*name);
  }
  SetCurrentDirectoryA(savedDir);
}
