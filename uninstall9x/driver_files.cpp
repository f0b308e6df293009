#include "driver_files.h"

#include "saved_directory.h"

void DeleteDriverFiles(const LPCSTR* names) {
  SavedDirectory savedDir;
  if (!savedDir.IsSaved()) return;

  char systemDir[256];
  UINT systemLength = GetSystemDirectoryA(systemDir, sizeof systemDir);
  // Bare names are deleted in the current folder: only ever in the system directory itself.
  if (systemLength != 0 && systemLength < sizeof systemDir && SetCurrentDirectoryA(systemDir)) {
    for (const LPCSTR* name = names; name && *name; ++name) DeleteFileA(*name);
  }
}
