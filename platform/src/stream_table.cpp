#include "stream_table.h"

#include <atomic>
#include <cstdint>
#include <mutex>

namespace winsim {
namespace {

// A FILE's place is among the few slots from its hash on. Readers match the FILE exactly, so a
// slot freed in between never hides one further on; changes take the lock.
constexpr size_t kSlotBits = 9;
constexpr size_t kSlots = size_t{1} << kSlotBits;
constexpr size_t kProbes = 8;

struct Slot {
  std::atomic<FILE*> file{nullptr};
  std::atomic<TextStream*> stream{nullptr};
};

Slot g_slots[kSlots];
std::mutex g_change_mutex;

size_t Home(FILE* file) {
  return static_cast<size_t>((reinterpret_cast<uintptr_t>(file) * 0x9E3779B97F4A7C15ull) >> (64 - kSlotBits));
}

Slot& Probe(FILE* file, size_t i) { return g_slots[(Home(file) + i) & (kSlots - 1)]; }

}  // namespace

void ListStream(FILE* file, TextStream* stream) {
  std::lock_guard lock(g_change_mutex);
  for (size_t i = 0; i < kProbes; ++i) {
    Slot& slot = Probe(file, i);
    if (slot.file.load(std::memory_order_relaxed)) continue;
    slot.stream.store(stream, std::memory_order_relaxed);
    slot.file.store(file, std::memory_order_release);
    return;
  }
}

void UnlistStream(FILE* file) {
  std::lock_guard lock(g_change_mutex);
  for (size_t i = 0; i < kProbes; ++i) {
    Slot& slot = Probe(file, i);
    if (slot.file.load(std::memory_order_relaxed) == file) slot.file.store(nullptr, std::memory_order_relaxed);
  }
}

TextStream* ListedStream(FILE* file) {
  for (size_t i = 0; i < kProbes; ++i) {
    Slot& slot = Probe(file, i);
    if (slot.file.load(std::memory_order_acquire) == file) return slot.stream.load(std::memory_order_relaxed);
  }
  return nullptr;
}

}  // namespace winsim
