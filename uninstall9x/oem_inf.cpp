#include "oem_inf.h"

#include <share.h>
#include <string.h>

#include "saved_directory.h"

namespace {

const int kOemInfCount = 500;
const size_t kHeaderCompareLength = 9;

BOOL Fits(size_t length, size_t bufferSize) { return length < bufferSize; }

}  // namespace

BOOL HoldsDriverSection(FILE* file, LPCSTR header) {
  char line[100];
  BOOL match = FALSE;
  while (fgets(line, sizeof line, file)) {
    if (strncmp(line, header, kHeaderCompareLength) == 0) match = TRUE;
  }
  return match;
}

void DeleteOemInfFiles(void) {
  char header[20];
  lstrcpyA(header, "[K5583.DRV]");

  SavedDirectory savedDir;
  if (!savedDir.IsSaved()) return;

  char infDir[256];
  UINT windowsLength = GetWindowsDirectoryA(infDir, sizeof infDir);
  if (windowsLength == 0 || !Fits(windowsLength + lstrlenA("\\inf"), sizeof infDir)) return;
  lstrcatA(infDir, "\\");
  lstrcatA(infDir, "inf");

  // Candidates are opened and deleted by bare name: only ever inside the inf directory.
  if (SetCurrentDirectoryA(infDir)) {
    for (int number = 0; number < kOemInfCount; ++number) {
      char numberText[20];
      snprintf(numberText, sizeof numberText, "%d", number);
      char fileName[20];
      lstrcpyA(fileName, "OEM");
      lstrcatA(fileName, numberText);
      lstrcatA(fileName, ".INF");

      char fullPath[260];
      if (!Fits(lstrlenA(infDir) + 1 + lstrlenA(fileName), sizeof fullPath)) continue;
      lstrcpyA(fullPath, infDir);
      lstrcatA(fullPath, "\\");
      lstrcatA(fullPath, fileName);

      WIN32_FIND_DATAA found;
      HANDLE search = FindFirstFileA(fullPath, &found);
      if (search == INVALID_HANDLE_VALUE) continue;
      FindClose(search);

      FILE* file = _fsopen(fileName, "r", _SH_DENYNO);
      if (!file) continue;
      BOOL match = HoldsDriverSection(file, header);
      fclose(file);
      if (match) DeleteFileA(fileName);
    }
  }
}
