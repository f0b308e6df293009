#include "whole_file.h"

#include "command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>

namespace fs = std::filesystem;

namespace winsim_tool {
namespace {

[[noreturn]] void Fail(const std::string& what) { throw CommandError(what + ": " + std::strerror(errno)); }

std::string RandomName() {
  static std::mt19937_64 random{std::random_device{}()};
  return ".winsim-new-" + std::to_string(random());
}

}  // namespace

WholeFile::WholeFile(const fs::path& staging) : staging_(staging) {
  fd_ = ::open(staging.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd_ >= 0) return;
  // File systems without unnamed files: a hidden name in the staging folder stands in.
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) Fail("cannot write into " + staging.string());
  std::string pattern = (staging / ".winsim-new-XXXXXX").string();
  fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd_ < 0) Fail("cannot write into " + staging.string());
  name_ = pattern;
}

WholeFile::~WholeFile() {
  if (!name_.empty()) ::unlink(name_.c_str());
  if (fd_ >= 0) ::close(fd_);
}

void WholeFile::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail("cannot write into " + staging_.string());
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

void WholeFile::CopyFrom(const fs::path& source) {
  // Never waiting on a FIFO that took the file's place.
  const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (in < 0) Fail("cannot read " + source.string());
  struct stat st;
  if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(in);
    throw CommandError(source.string() + " is not a file");
  }
  char buffer[1 << 16];
  while (true) {
    const ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(in);
      errno = error;
      Fail("cannot read " + source.string());
    }
    if (n == 0) break;
    try {
      Write(std::string_view(buffer, static_cast<size_t>(n)));
    } catch (...) {
      ::close(in);
      throw;
    }
  }
  ::close(in);
}

void WholeFile::Publish(const fs::path& target, mode_t mode) {
  if (::fchmod(fd_, mode) != 0) Fail("cannot write " + target.string());
  if (name_.empty()) {
    // The name it takes until the rename stays off the target's folder.
    const std::string proc = "/proc/self/fd/" + std::to_string(fd_);
    for (int attempt = 0; name_.empty(); ++attempt) {
      const std::string name = (staging_ / RandomName()).string();
      if (::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
        name_ = name;
      else if (errno != EEXIST || attempt == 10)
        Fail("cannot write " + target.string());
    }
  }
  if (::rename(name_.c_str(), target.c_str()) != 0) Fail("cannot write " + target.string());
  name_.clear();
}

}  // namespace winsim_tool
