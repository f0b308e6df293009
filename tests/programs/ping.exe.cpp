// Tells its starter that WinMain runs: writes one byte into the FIFO named by the command tail,
// holding a shared lock on FIFO.lock until it ends so that the starter can wait for its end.
#include <windows.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR lpCmdLine, int) {
  const int lock = ::open((std::string(lpCmdLine) + ".lock").c_str(), O_RDONLY | O_CREAT, 0600);
  if (lock < 0 || ::flock(lock, LOCK_SH) != 0) return 1;
  const int fd = ::open(lpCmdLine, O_WRONLY);
  if (fd < 0) return 1;
  const bool told = ::write(fd, "!", 1) == 1;
  ::close(fd);
  return told ? 0 : 1;
}
