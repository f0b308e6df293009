// The floor of the start-up benchmarks: a plain host program that does what ping.exe does (a byte
// into the FIFO named by its argument, a shared lock on FIFO.lock until it ends), from main,
// with nothing but the C library.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  char lock_path[4096];
  std::snprintf(lock_path, sizeof lock_path, "%s.lock", argv[1]);
  const int lock = ::open(lock_path, O_RDONLY | O_CREAT, 0600);
  if (lock < 0 || ::flock(lock, LOCK_SH) != 0) return 1;
  const int fd = ::open(argv[1], O_WRONLY);
  if (fd < 0) return 1;
  const bool told = ::write(fd, "!", 1) == 1;
  ::close(fd);
  return told ? 0 : 1;
}
