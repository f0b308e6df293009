// A program of the machine that answers, in the registry, the question its starter left there:
// HKLM\Software\Probe "Question" is copied to "Answer".
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  HKEY key = NULL;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software\\Probe", &key) != ERROR_SUCCESS) return 1;
  BYTE question[256];
  DWORD size = sizeof question;
  DWORD type = 0;
  LONG read = RegQueryValueExA(key, "Question", NULL, &type, question, &size);
  if (read == ERROR_SUCCESS) RegSetValueExA(key, "Answer", 0, type, question, size);
  RegCloseKey(key);
  return read == ERROR_SUCCESS ? 0 : 2;
}
