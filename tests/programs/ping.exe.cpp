// Tells its starter that WinMain runs: writes one byte into the FIFO named by the command tail.
#include <windows.h>

#include <fcntl.h>
#include <unistd.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR lpCmdLine, int) {
  const int fd = ::open(lpCmdLine, O_WRONLY);
  if (fd < 0) return 1;
  const bool told = ::write(fd, "!", 1) == 1;
  ::close(fd);
  return told ? 0 : 1;
}
