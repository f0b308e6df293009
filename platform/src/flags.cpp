#include "flags.h"

#include <winsim/machine.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

namespace winsim {
namespace {

constexpr size_t kFlagsSize = 4096;
constexpr size_t kSettingsOffset = 2048;  // the flags grow from the start, the settings sit apart
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

SharedFlags* MapFlags(const std::filesystem::path& folder) {
  int fd = ::open(FlagsFile(folder).c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) throw MachineError("cannot open " + FlagsFile(folder).string() + ": " + std::strerror(errno));
  void* p = ::mmap(nullptr, kFlagsSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ::close(fd);
  if (p == MAP_FAILED) throw MachineError("cannot map " + FlagsFile(folder).string() + ": " + std::strerror(errno));
  return static_cast<SharedFlags*>(p);
}

// The previous machine's page stays mapped: a racing reader may still hold it.
void UseFlags(SharedFlags* flags) { g_flags.store(flags, std::memory_order_release); }

SharedFlags* Flags() { return g_flags.load(std::memory_order_acquire); }

SharedSettings& SettingsOf(SharedFlags* flags) {
  static_assert(sizeof(SharedFlags) <= kSettingsOffset && kSettingsOffset + sizeof(SharedSettings) <= kFlagsSize);
  return *reinterpret_cast<SharedSettings*>(reinterpret_cast<char*>(flags) + kSettingsOffset);
}

}  // namespace winsim
