// The floor of the start-up benchmarks: a plain host program that only tells its starter it runs,
// by writing one byte into the FIFO named by its argument.
#include <fcntl.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const int fd = ::open(argv[1], O_WRONLY);
  if (fd < 0) return 1;
  const bool told = ::write(fd, "!", 1) == 1;
  ::close(fd);
  return told ? 0 : 1;
}
