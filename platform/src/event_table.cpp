#include "event_table.h"

#include <winsim/machine.h>
#include <winsim/process.h>

#include <fcntl.h>
#include <linux/futex.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>

namespace winsim {
namespace {

using Clock = std::chrono::steady_clock;

// Bumped whenever the layout changes, so that a table of another layout is laid out afresh.
constexpr uint64_t kMagic = 0x3276457369576e77;  // "wnWsiEv2"
constexpr size_t kSlots = 256;
constexpr size_t kMaxName = MAX_PATH;
// Holders are numbered from 1; 0 ends a list.
constexpr uint32_t kNoHolder = 0;
constexpr uint64_t kFirstHolders = 64;
constexpr uint64_t kMaxHolders = UINT32_MAX - 1;
// The pool of holders lies after the fixed part, at an offset that any page size divides.
constexpr size_t kPageRounding = 65536;
// A waiter looks again at least this often: a signaller killed between its signal and its
// wake-up call must not strand it.
constexpr std::chrono::milliseconds kWaitSlice{250};
// A waiter for the table's lock looks at its owner at least this often.
constexpr std::chrono::milliseconds kLockSlice{50};
// An owner records its start at once after taking the lock; a lock word that has named a live
// process this long without its start is no owner's.
constexpr std::chrono::seconds kOwnerBound{2};
constexpr uint32_t kContended = 0x80000000u;

static_assert(std::atomic<uint32_t>::is_always_lock_free && sizeof(std::atomic<uint32_t>) == 4,
              "the wake and lock words are futexes");

void FutexWait(std::atomic<uint32_t>* word, uint32_t seen, std::chrono::nanoseconds bound) {
  timespec ts{static_cast<time_t>(bound.count() / 1000000000), static_cast<long>(bound.count() % 1000000000)};
  // Not the private futex: the word is shared with other processes.
  ::syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAIT, seen, &ts, nullptr, 0);
}

void FutexWake(std::atomic<uint32_t>* word, int count) {
  ::syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAKE, count, nullptr, nullptr, 0);
}

// Thrown while the lock is held when the table holds what no change of ours could have left.
struct Damaged {};

// The lock word: 0 when free, else the owner's process id, with kContended when others wait.
struct TableLock {
  std::atomic<uint32_t> word;
  uint32_t unused;
  std::atomic<uint64_t> owner_start;
};

}  // namespace

struct event_table_detail::Holder {
  int32_t pid;
  uint32_t handles;  // 0: a free entry
  uint64_t start;
  uint32_t next;
  uint32_t unused;
};

struct event_table_detail::Slot {
  uint32_t used;
  uint32_t generation;  // bumped when the event ends
  uint32_t manual_reset;
  uint32_t signalled;
  std::atomic<uint32_t> wake;  // bumped by every signal; waiters sleep on it
  uint32_t name_length;        // 0: an unnamed event
  uint32_t first_holder;
  uint32_t unused;
  char name[kMaxName];

  bool Named(std::string_view n) const { return used && name_length != 0 && n == std::string_view(name, name_length); }
};

struct event_table_detail::Layout {
  uint64_t magic;
  TableLock lock;
  uint64_t epoch;  // changed whenever the table is laid out afresh
  uint32_t holder_capacity;
  uint32_t free_holder;
  Slot slots[kSlots];
};

static_assert(offsetof(event_table_detail::Layout, lock) == EventTable::kLockWordOffset);

namespace {

constexpr size_t kHoldersOffset =
    (sizeof(event_table_detail::Layout) + kPageRounding - 1) / kPageRounding * kPageRounding;

size_t FileSizeFor(uint64_t holders) { return kHoldersOffset + holders * sizeof(event_table_detail::Holder); }

bool OwnerGone(const TableLock& lock, uint32_t word, Clock::duration named_for) {
  const int pid = static_cast<int>(word & ~kContended);
  if (pid <= 0) return true;
  if (::kill(pid, 0) != 0 && errno == ESRCH) return true;
  // Only a lock held for a while is looked at closer: an owner that has ended but not yet been
  // reaped, or a live process that the word names without holding the lock.
  if (named_for < kLockSlice) return false;
  const unsigned long long start = IdentifyProcess(pid).start;
  return start == 0 || (named_for >= kOwnerBound && start != lock.owner_start.load());
}

}  // namespace

// Holds the table's lock. A lock whose owner is gone, or that names no owner at all, is taken over;
// then the whole table is looked over, since the owner may have left a change half made.
class EventTable::Locked {
 public:
  explicit Locked(EventTable& table) : lock_(table.layout_->lock) {
    const ProcessId self = SelfProcessId();
    const uint32_t me = static_cast<uint32_t>(self.pid);
    uint32_t seen = 0;
    if (!lock_.word.compare_exchange_strong(seen, me)) Contend(me, seen);
    lock_.owner_start.store(self.start);
  }
  ~Locked() {
    if (lock_.word.exchange(0) & kContended) FutexWake(&lock_.word, 1);
  }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

  bool TookOver() const { return took_over_; }

 private:
  void Contend(uint32_t me, uint32_t seen) {
    uint32_t named = seen;
    Clock::time_point named_since = Clock::now();
    for (;;) {
      if (seen == 0) {
        if (lock_.word.compare_exchange_strong(seen, me | kContended)) return;
        continue;
      }
      if (seen != named) named = seen, named_since = Clock::now();
      if (OwnerGone(lock_, seen, Clock::now() - named_since)) {
        if (lock_.word.compare_exchange_strong(seen, me | kContended)) {
          took_over_ = true;
          return;
        }
        continue;
      }
      if (!(seen & kContended) && !lock_.word.compare_exchange_strong(seen, seen | kContended)) continue;
      FutexWait(&lock_.word, seen | kContended, kLockSlice);
      seen = lock_.word.load();
    }
  }

  TableLock& lock_;
  bool took_over_ = false;
};

template <class Change>
auto EventTable::Locking(Change change) {
  Locked lock(*this);
  try {
    if (layout_->magic != kMagic) throw Damaged{};
    MapHolders();
    if (lock.TookOver()) {
      for (Slot& s : layout_->slots) CheckSlot(s);
    }
    return change();
  } catch (const Damaged&) {
    Rebuild();
    return change();
  }
}

std::shared_ptr<EventTable> EventTable::OfCurrentMachine() {
  // Never destroyed: calls from static destructors at exit still find it.
  static auto* mutex = new std::mutex;
  static auto* current = new std::shared_ptr<EventTable>;
  const std::filesystem::path file = CurrentMachine().Folder() / "events.shm";
  std::lock_guard lock(*mutex);
  if (!*current || (*current)->file_ != file) *current = std::make_shared<EventTable>(CurrentMachine().Folder());
  return *current;
}

EventTable::EventTable(const std::filesystem::path& machine_folder) : file_(machine_folder / "events.shm") {
  auto fail = [&](const char* what) {
    return MachineError(std::string("cannot ") + what + " " + file_.string() + ": " + std::strerror(errno));
  };
  int fd = ::open(file_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
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
      (static_cast<size_t>(st.st_size) >= kHoldersOffset || ::ftruncate(fd, static_cast<off_t>(kHoldersOffset)) == 0))
    map = ::mmap(nullptr, sizeof(Layout), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (map == MAP_FAILED) {
    MachineError error = fail("map");
    ::close(fd);
    throw error;
  }
  layout_ = static_cast<Layout*>(map);
  if (layout_->magic != kMagic) {
    // All zero is an empty table: no lock owner, no holders, every slot free.
    std::memset(map, 0, sizeof(Layout));
    layout_->epoch = static_cast<uint64_t>(Clock::now().time_since_epoch().count());
    layout_->magic = kMagic;
  }
  // Explicitly: the mapping keeps the open file, and with it the lock, alive past close.
  ::flock(fd, LOCK_UN);
  ::close(fd);
}

EventTable::~EventTable() {
  if (holders_) ::munmap(holders_, holders_mapped_ * sizeof(Holder));
  ::munmap(layout_, sizeof(Layout));
}

// Maps the pool as far as the table says it reaches, when another process has grown it.
void EventTable::MapHolders() {
  const uint32_t capacity = layout_->holder_capacity;
  if (capacity == holders_mapped_) return;
  if (holders_) ::munmap(holders_, holders_mapped_ * sizeof(Holder));
  holders_ = nullptr;
  holders_mapped_ = 0;
  if (capacity == 0) return;
  const int fd = ::open(file_.c_str(), O_RDWR | O_CLOEXEC);
  struct stat st {};
  // A pool that the file does not hold was never grown by us: the table is damaged.
  if (fd < 0 || ::fstat(fd, &st) != 0 || static_cast<uint64_t>(st.st_size) < FileSizeFor(capacity)) {
    if (fd >= 0) ::close(fd);
    throw Damaged{};
  }
  void* map = ::mmap(nullptr, capacity * sizeof(Holder), PROT_READ | PROT_WRITE, MAP_SHARED, fd,
                     static_cast<off_t>(kHoldersOffset));
  ::close(fd);
  if (map == MAP_FAILED) throw Damaged{};
  holders_ = static_cast<Holder*>(map);
  holders_mapped_ = capacity;
}

// Doubles the pool, with room for it reserved on disk, so that a full disk shows here rather than
// as a fault on a page of the mapping. False when there is no room.
bool EventTable::GrowHolders() {
  const uint64_t old_capacity = layout_->holder_capacity;
  const uint64_t capacity = old_capacity ? old_capacity * 2 : kFirstHolders;
  if (capacity > kMaxHolders) return false;
  const int fd = ::open(file_.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  const bool reserved = ::posix_fallocate(fd, 0, static_cast<off_t>(FileSizeFor(capacity))) == 0;
  ::close(fd);
  if (!reserved) return false;
  layout_->holder_capacity = static_cast<uint32_t>(capacity);
  try {
    MapHolders();
  } catch (const Damaged&) {
    layout_->holder_capacity = static_cast<uint32_t>(old_capacity);
    MapHolders();
    return false;
  }
  for (uint64_t index = capacity; index > old_capacity; --index) {
    HolderAt(static_cast<uint32_t>(index)) = Holder{};
    FreeHolder(static_cast<uint32_t>(index));
  }
  return true;
}

EventTable::Holder& EventTable::HolderAt(uint32_t index) {
  if (index == kNoHolder || index > holders_mapped_) throw Damaged{};
  return holders_[index - 1];
}

uint32_t EventTable::TakeFreeHolder() {
  if (layout_->free_holder == kNoHolder && !GrowHolders()) return kNoHolder;
  const uint32_t index = layout_->free_holder;
  Holder& h = HolderAt(index);
  if (h.handles != 0) throw Damaged{};
  layout_->free_holder = h.next;
  return index;
}

void EventTable::FreeHolder(uint32_t index) {
  Holder& h = HolderAt(index);
  h = Holder{};
  h.next = layout_->free_holder;
  layout_->free_holder = index;
}

// A slot as a change of ours leaves it; its holders are walked no further than the pool reaches,
// so a list that runs in a circle is found, not followed for ever.
void EventTable::CheckSlot(const Slot& s) {
  if (s.used > 1) throw Damaged{};
  if (!s.used) return;
  if (s.manual_reset > 1 || s.signalled > 1 || s.name_length > kMaxName || s.first_holder == kNoHolder) throw Damaged{};
  uint32_t steps = 0;
  for (uint32_t index = s.first_holder; index != kNoHolder; index = HolderAt(index).next) {
    if (++steps > holders_mapped_ || HolderAt(index).handles == 0) throw Damaged{};
  }
}

// Drops the holders that have ended; the event ends with the last one.
void EventTable::Reap(Slot& s) {
  CheckSlot(s);
  const ProcessId self = SelfProcessId();
  uint32_t* link = &s.first_holder;
  while (*link != kNoHolder) {
    const uint32_t index = *link;
    Holder& h = HolderAt(index);
    const bool self_held = h.pid == self.pid && h.start == self.start;
    if (!self_held && !ProcessAlive({h.pid, h.start})) {
      *link = h.next;
      FreeHolder(index);
    } else {
      link = &h.next;
    }
  }
  if (s.first_holder == kNoHolder) End(s);
}

bool EventTable::AddSelf(Slot& s) {
  const ProcessId self = SelfProcessId();
  for (uint32_t index = s.first_holder; index != kNoHolder; index = HolderAt(index).next) {
    Holder& h = HolderAt(index);
    if (h.pid == self.pid && h.start == self.start) {
      ++h.handles;
      return true;
    }
  }
  const uint32_t index = TakeFreeHolder();
  if (index == kNoHolder) return false;
  HolderAt(index) = Holder{self.pid, 1, self.start, s.first_holder, 0};
  s.first_holder = index;
  return true;
}

void EventTable::End(Slot& s) {
  while (s.first_holder != kNoHolder) {
    const uint32_t index = s.first_holder;
    s.first_holder = HolderAt(index).next;
    FreeHolder(index);
  }
  s.name_length = 0;
  s.signalled = 0;
  ++s.generation;
  s.used = 0;
}

void EventTable::Rebuild() {
  std::fprintf(stderr, "winsim: the machine's event table was damaged; laid out afresh, its events are gone\n");
  const uint64_t epoch = layout_->epoch;
  const uint32_t word = layout_->lock.word.load();
  const uint64_t owner_start = layout_->lock.owner_start.load();
  std::memset(static_cast<void*>(layout_), 0, sizeof(Layout));
  layout_->lock.word.store(word);
  layout_->lock.owner_start.store(owner_start);
  layout_->epoch = epoch + 1;
  layout_->magic = kMagic;
  MapHolders();
}

EventTable::Slot* EventTable::Live(const EventRef& ref) {
  if (ref.epoch != layout_->epoch || ref.slot >= kSlots) return nullptr;
  Slot& s = layout_->slots[ref.slot];
  CheckSlot(s);
  return s.used && s.generation == ref.generation ? &s : nullptr;
}

EventRef EventTable::RefOf(const Slot& slot) const {
  return {static_cast<uint32_t>(&slot - layout_->slots), slot.generation, layout_->epoch};
}

EventTable::Slot* EventTable::FindNamed(std::string_view name) {
  for (Slot& s : layout_->slots) {
    if (s.used > 1) throw Damaged{};
    if (!s.Named(name)) continue;
    Reap(s);
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
    if (s.used) Reap(s);
  return first_free();
}

DWORD EventTable::Create(std::string_view name, bool manual_reset, bool initially_signalled, EventRef* ref) {
  if (name.size() > kMaxName) return ERROR_FILENAME_EXCED_RANGE;
  return Locking([&]() -> DWORD {
    if (Slot* s = name.empty() ? nullptr : FindNamed(name)) {
      if (!AddSelf(*s)) return ERROR_NOT_ENOUGH_MEMORY;
      *ref = RefOf(*s);
      return ERROR_ALREADY_EXISTS;
    }
    Slot* s = FreeSlot();
    if (!s) return ERROR_NOT_ENOUGH_MEMORY;
    s->first_holder = kNoHolder;
    if (!AddSelf(*s)) return ERROR_NOT_ENOUGH_MEMORY;
    s->manual_reset = manual_reset ? 1 : 0;
    s->signalled = initially_signalled ? 1 : 0;
    s->name_length = static_cast<uint32_t>(name.size());
    std::memcpy(s->name, name.data(), name.size());
    s->used = 1;
    *ref = RefOf(*s);
    return ERROR_SUCCESS;
  });
}

DWORD EventTable::Open(std::string_view name, EventRef* ref) {
  if (name.size() > kMaxName) return ERROR_FILENAME_EXCED_RANGE;
  return Locking([&]() -> DWORD {
    Slot* s = name.empty() ? nullptr : FindNamed(name);
    if (!s) return ERROR_FILE_NOT_FOUND;
    if (!AddSelf(*s)) return ERROR_NOT_ENOUGH_MEMORY;
    *ref = RefOf(*s);
    return ERROR_SUCCESS;
  });
}

void EventTable::Release(const EventRef& ref) {
  Locking([&] {
    Slot* s = Live(ref);
    if (!s) return;
    const ProcessId self = SelfProcessId();
    for (uint32_t* link = &s->first_holder; *link != kNoHolder; link = &HolderAt(*link).next) {
      Holder& h = HolderAt(*link);
      if (h.pid != self.pid || h.start != self.start) continue;
      if (--h.handles == 0) {
        const uint32_t index = *link;
        *link = h.next;
        FreeHolder(index);
      }
      break;
    }
    if (s->first_holder == kNoHolder) End(*s);
  });
}

bool EventTable::Set(const EventRef& ref) {
  Slot* s = Locking([&]() -> Slot* {
    Slot* live = Live(ref);
    if (!live) return nullptr;
    live->signalled = 1;
    live->wake.fetch_add(1);
    return live;
  });
  if (!s) return false;
  // Every sleeper looks again; with auto-reset the first to take the lock consumes the signal
  // and the others go back to sleep.
  FutexWake(&s->wake, INT_MAX);
  return true;
}

bool EventTable::Reset(const EventRef& ref) {
  return Locking([&] {
    Slot* s = Live(ref);
    if (!s) return false;
    s->signalled = 0;
    return true;
  });
}

DWORD EventTable::Wait(const EventRef& ref, DWORD milliseconds) {
  std::optional<Clock::time_point> deadline;
  if (milliseconds != INFINITE) deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    Slot* s = nullptr;
    uint32_t seen = 0;
    const DWORD found = Locking([&]() -> DWORD {
      s = Live(ref);
      if (!s) return WAIT_FAILED;
      if (s->signalled) {
        if (!s->manual_reset) s->signalled = 0;
        return WAIT_OBJECT_0;
      }
      seen = s->wake.load();
      return WAIT_TIMEOUT;
    });
    if (found != WAIT_TIMEOUT) return found;
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
