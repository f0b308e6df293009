// Stands in for a phase that holds the install lock while another one starts: takes the lock, starts
// its command tail with WinExec, holds the lock for a second and a half, and gives it back.
//   lock_holder.exe COMMAND LINE
#include <windows.h>

extern "C" int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd) {
  HANDLE lock = CreateEventA(nullptr, FALSE, FALSE, "KDRInstalled");
  if (!lock) return 1;
  const UINT started = WinExec(lpCmdLine, SW_SHOWNA);
  // Long enough that the started phase waits through one whole slice and handles its messages.
  Sleep(1500);
  SetEvent(lock);
  CloseHandle(lock);
  return started > 31 ? 0 : 2;
}
