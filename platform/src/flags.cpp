#include "flags.h"

#include <winsim/machine.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

namespace winsim {
namespace {

constexpr size_t kFlagsSize = 4096;
std::atomic<SharedFlags*> g_flags{nullptr};

std::filesystem::path FlagsFile(const std::filesystem::path& folder) { return folder / "flags.shm"; }

}  // namespace

void CreateFlags(const std::filesystem::path& folder) {
  int fd = ::open(FlagsFile(folder).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0 || ::ftruncate(fd, kFlagsSize) != 0) {
    if (fd >= 0) ::close(fd);
    throw MachineError("cannot create " + FlagsFile(folder).string() + ": " + std::strerror(errno));
  }
  ::close(fd);
}

void MapFlags(const std::filesystem::path& folder) {
  int fd = ::open(FlagsFile(folder).c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) throw MachineError("cannot open " + FlagsFile(folder).string() + ": " + std::strerror(errno));
  void* p = ::mmap(nullptr, kFlagsSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ::close(fd);
  if (p == MAP_FAILED) throw MachineError("cannot map " + FlagsFile(folder).string() + ": " + std::strerror(errno));
  // The previous machine's page stays mapped: a racing reader may still hold it.
  g_flags.store(static_cast<SharedFlags*>(p));
}

SharedFlags* Flags() { return g_flags.load(std::memory_order_acquire); }

}  // namespace winsim
