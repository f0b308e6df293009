#include "event_table.h"

#include <winsim/machine.h>
#include <winsim/process.h>

#include <fcntl.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>

namespace winsim {
namespace {

// Bumped whenever the layout changes, so that a table of another layout is laid out afresh.
constexpr uint64_t kMagic = 0x3176457369576e77;  // "wnWsiEv1"
constexpr size_t kSlots = 256;
constexpr size_t kHoldersPerEvent = 64;
constexpr size_t kMaxName = MAX_PATH;
// A waiter looks again at least this often: a signaller killed between its signal and its
// wake-up call must not strand it.
constexpr std::chrono::milliseconds kWaitSlice{250};

struct Holder {
  int32_t pid;
  uint32_t handles;  // 0: a free entry
  uint64_t start;
};

static_assert(std::atomic<uint32_t>::is_always_lock_free && sizeof(std::atomic<uint32_t>) == 4,
              "the wake word is a futex");

void FutexWait(std::atomic<uint32_t>* word, uint32_t seen, std::chrono::nanoseconds bound) {
  timespec ts{static_cast<time_t>(bound.count() / 1000000000), static_cast<long>(bound.count() % 1000000000)};
  // Not the private futex: the word is shared with other processes.
  ::syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAIT, seen, &ts, nullptr, 0);
}

void FutexWakeAll(std::atomic<uint32_t>* word) {
  ::syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}

bool IsSelf(const Holder& h) {
  const ProcessId self = SelfProcessId();
  return h.pid == self.pid && h.start == self.start;
}

}  // namespace

struct EventTable::Slot {
  uint32_t used;
  uint32_t generation;  // bumped when the event ends
  uint32_t manual_reset;
  uint32_t signalled;
  std::atomic<uint32_t> wake;  // bumped by every signal; waiters sleep on it
  uint32_t name_length;        // 0: an unnamed event
  char name[kMaxName];
  Holder holders[kHoldersPerEvent];

  bool Named(std::string_view n) const { return used && name_length != 0 && n == std::string_view(name, name_length); }
  bool Held() const {
    for (const Holder& h : holders)
      if (h.handles) return true;
    return false;
  }
  void End() {
    std::memset(holders, 0, sizeof holders);
    name_length = 0;
    signalled = 0;
    ++generation;
    used = 0;
  }
  // Drops the holders that have ended; the event ends with the last one.
  void Reap() {
    for (Holder& h : holders)
      if (h.handles && !IsSelf(h) && !ProcessAlive({h.pid, h.start})) h = Holder{};
    if (!Held()) End();
  }
  bool AddSelf() {
    Holder* free_entry = nullptr;
    for (Holder& h : holders) {
      if (h.handles && IsSelf(h)) {
        ++h.handles;
        return true;
      }
      if (!h.handles && !free_entry) free_entry = &h;
    }
    if (!free_entry) return false;
    const ProcessId self = SelfProcessId();
    *free_entry = Holder{self.pid, 1, self.start};
    return true;
  }
};

struct EventTable::Layout {
  uint64_t magic;
  pthread_mutex_t mutex;  // process-shared and robust: a holder killed inside does not block the machine
  Slot slots[kSlots];
};

class EventTable::Locked {
 public:
  explicit Locked(Layout* layout) : mutex_(&layout->mutex) {
    int rc = pthread_mutex_lock(mutex_);
    // The owner died inside: each change made under the lock leaves the table usable as it stands.
    if (rc == EOWNERDEAD) rc = pthread_mutex_consistent(mutex_);
    if (rc != 0) {
      std::fprintf(stderr, "winsim: the event table's lock is broken: %s\n", std::strerror(rc));
      std::abort();
    }
  }
  ~Locked() { pthread_mutex_unlock(mutex_); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  pthread_mutex_t* mutex_;
};

std::shared_ptr<EventTable> EventTable::OfCurrentMachine() {
  // Never destroyed: calls from static destructors at exit still find it.
  static auto* mutex = new std::mutex;
  static auto* current = new std::shared_ptr<EventTable>;
  const std::filesystem::path& folder = CurrentMachine().Folder();
  std::lock_guard lock(*mutex);
  if (!*current || (*current)->folder_ != folder) *current = std::make_shared<EventTable>(folder);
  return *current;
}

EventTable::EventTable(const std::filesystem::path& machine_folder) : folder_(machine_folder) {
  const std::filesystem::path file = folder_ / "events.shm";
  auto fail = [&](const char* what) {
    return MachineError(std::string("cannot ") + what + " " + file.string() + ": " + std::strerror(errno));
  };
  int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) throw fail("open");
  // The first process lays the table out; the file lock goes with a process killed halfway.
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      MachineError error = fail("lock");
      ::close(fd);
      throw error;
    }
  }
  struct stat st {};
  void* map = MAP_FAILED;
  if (::fstat(fd, &st) == 0 &&
      (static_cast<size_t>(st.st_size) >= sizeof(Layout) || ::ftruncate(fd, static_cast<off_t>(sizeof(Layout))) == 0))
    map = ::mmap(nullptr, sizeof(Layout), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (map == MAP_FAILED) {
    MachineError error = fail("map");
    ::close(fd);
    throw error;
  }
  layout_ = static_cast<Layout*>(map);
  if (layout_->magic != kMagic) {
    std::memset(map, 0, sizeof(Layout));
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    pthread_mutex_init(&layout_->mutex, &attr);
    pthread_mutexattr_destroy(&attr);
    layout_->magic = kMagic;
  }
  // Explicitly: the mapping keeps the open file, and with it the lock, alive past close.
  ::flock(fd, LOCK_UN);
  ::close(fd);
}

EventTable::~EventTable() { ::munmap(layout_, sizeof(Layout)); }

EventTable::Slot* EventTable::Live(const EventRef& ref) {
  if (ref.slot >= kSlots) return nullptr;
  Slot& s = layout_->slots[ref.slot];
  return s.used && s.generation == ref.generation ? &s : nullptr;
}

EventRef EventTable::RefOf(const Slot& slot) const {
  return {static_cast<uint32_t>(&slot - layout_->slots), slot.generation};
}

EventTable::Slot* EventTable::FindNamed(std::string_view name) {
  for (Slot& s : layout_->slots) {
    if (!s.Named(name)) continue;
    s.Reap();
    return s.used ? &s : nullptr;
  }
  return nullptr;
}

EventTable::Slot* EventTable::FreeSlot() {
  auto first_free = [this]() -> Slot* {
    for (Slot& s : layout_->slots)
      if (!s.used) return &s;
    return nullptr;
  };
  if (Slot* s = first_free()) return s;
  // Full: room may still be held by processes that ended.
  for (Slot& s : layout_->slots)
    if (s.used) s.Reap();
  return first_free();
}

DWORD EventTable::Create(std::string_view name, bool manual_reset, bool initially_signalled, EventRef* ref) {
  if (name.size() > kMaxName) return ERROR_FILENAME_EXCED_RANGE;
  Locked lock(layout_);
  if (Slot* s = name.empty() ? nullptr : FindNamed(name)) {
    if (!s->AddSelf()) return ERROR_NOT_ENOUGH_MEMORY;
    *ref = RefOf(*s);
    return ERROR_ALREADY_EXISTS;
  }
  Slot* s = FreeSlot();
  if (!s) return ERROR_NOT_ENOUGH_MEMORY;
  s->manual_reset = manual_reset ? 1 : 0;
  s->signalled = initially_signalled ? 1 : 0;
  s->name_length = static_cast<uint32_t>(name.size());
  std::memcpy(s->name, name.data(), name.size());
  s->AddSelf();
  s->used = 1;
  *ref = RefOf(*s);
  return ERROR_SUCCESS;
}

DWORD EventTable::Open(std::string_view name, EventRef* ref) {
  if (name.size() > kMaxName) return ERROR_FILENAME_EXCED_RANGE;
  Locked lock(layout_);
  Slot* s = name.empty() ? nullptr : FindNamed(name);
  if (!s) return ERROR_FILE_NOT_FOUND;
  if (!s->AddSelf()) return ERROR_NOT_ENOUGH_MEMORY;
  *ref = RefOf(*s);
  return ERROR_SUCCESS;
}

void EventTable::Release(const EventRef& ref) {
  Locked lock(layout_);
  Slot* s = Live(ref);
  if (!s) return;
  for (Holder& h : s->holders) {
    if (h.handles && IsSelf(h)) {
      if (--h.handles == 0) h = Holder{};
      break;
    }
  }
  if (!s->Held()) s->End();
}

bool EventTable::Set(const EventRef& ref) {
  Slot* s;
  {
    Locked lock(layout_);
    s = Live(ref);
    if (!s) return false;
    s->signalled = 1;
    s->wake.fetch_add(1);
  }
  // Every sleeper looks again; with auto-reset the first to take the lock consumes the signal
  // and the others go back to sleep.
  FutexWakeAll(&s->wake);
  return true;
}

bool EventTable::Reset(const EventRef& ref) {
  Locked lock(layout_);
  Slot* s = Live(ref);
  if (!s) return false;
  s->signalled = 0;
  return true;
}

DWORD EventTable::Wait(const EventRef& ref, DWORD milliseconds) {
  using Clock = std::chrono::steady_clock;
  std::optional<Clock::time_point> deadline;
  if (milliseconds != INFINITE) deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    Slot* s;
    uint32_t seen;
    {
      Locked lock(layout_);
      s = Live(ref);
      if (!s) return WAIT_FAILED;
      if (s->signalled) {
        if (!s->manual_reset) s->signalled = 0;
        return WAIT_OBJECT_0;
      }
      seen = s->wake.load();
    }
    std::chrono::nanoseconds bound = kWaitSlice;
    if (deadline) {
      const auto left = *deadline - Clock::now();
      if (left <= Clock::duration::zero()) return WAIT_TIMEOUT;
      bound = std::min<std::chrono::nanoseconds>(bound, left);
    }
    FutexWait(&s->wake, seen, bound);
  }
}

}  // namespace winsim
