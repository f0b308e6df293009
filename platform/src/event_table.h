// The machine's events: one table in shared memory (events.shm in the machine folder) that every
// process of the machine maps. An event lives as long as some live process holds a handle to it;
// the holders of processes that ended, killed ones included, are dropped whenever a lookup meets them.
// The holders of all events share a pool that grows with them, so any number of processes may hold
// one event; only memory bounds it.
//
// A table found damaged (a value out of range, a broken list of holders, a lock word naming no live
// process that holds it) is laid out afresh, and the events that were in it are gone; no call waits
// on it for ever.
#ifndef WINSIM_EVENT_TABLE_H
#define WINSIM_EVENT_TABLE_H

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string_view>

namespace winsim {

// Where an event lives in the table. The generation tells a slot reused for another event, the
// epoch a table laid out afresh.
struct EventRef {
  uint32_t slot = 0;
  uint32_t generation = 0;
  uint64_t epoch = 0;
};

namespace event_table_detail {
struct Layout;
struct Slot;
struct Holder;
}  // namespace event_table_detail

class EventTable {
 public:
  // The file begins with its 8-byte magic and then the word of the lock that every change takes.
  static constexpr size_t kLockWordOffset = 8;

  // The table of the machine in use, mapped once per machine folder. Throws MachineError.
  static std::shared_ptr<EventTable> OfCurrentMachine();

  // Maps the folder's table, laying it out if it is new. Throws MachineError.
  explicit EventTable(const std::filesystem::path& machine_folder);
  ~EventTable();
  EventTable(const EventTable&) = delete;
  EventTable& operator=(const EventTable&) = delete;

  // Creates the event, or opens it when the name exists (its state left alone); an empty name
  // makes an event that no name finds. This process then holds one more handle to it.
  // ERROR_SUCCESS (created), ERROR_ALREADY_EXISTS (opened), ERROR_FILENAME_EXCED_RANGE,
  // ERROR_NOT_ENOUGH_MEMORY (no room left for another event, or for another holder).
  DWORD Create(std::string_view name, bool manual_reset, bool initially_signalled, EventRef* ref);
  // ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, ERROR_FILENAME_EXCED_RANGE, ERROR_NOT_ENOUGH_MEMORY.
  DWORD Open(std::string_view name, EventRef* ref);
  // Gives back one handle of this process; the event ends with its last handle machine-wide.
  void Release(const EventRef& ref);

  // False when the event no longer exists.
  bool Set(const EventRef& ref);
  bool Reset(const EventRef& ref);
  // WAIT_OBJECT_0 (an auto-reset event is consumed), WAIT_TIMEOUT, or WAIT_FAILED when the
  // event no longer exists. INFINITE waits without end.
  DWORD Wait(const EventRef& ref, DWORD milliseconds);

 private:
  using Layout = event_table_detail::Layout;
  using Slot = event_table_detail::Slot;
  using Holder = event_table_detail::Holder;
  class Locked;

  // Runs `change` under the table's lock; a damaged table is laid out afresh and `change` run again.
  template <class Change>
  auto Locking(Change change);
  void Rebuild();
  void MapHolders();
  bool GrowHolders();
  Holder& HolderAt(uint32_t index);
  uint32_t TakeFreeHolder();
  void FreeHolder(uint32_t index);
  void CheckSlot(const Slot& slot);
  bool AddSelf(Slot& slot);
  void Reap(Slot& slot);
  void End(Slot& slot);

  Slot* Live(const EventRef& ref);
  Slot* FindNamed(std::string_view name);
  Slot* FreeSlot();
  EventRef RefOf(const Slot& slot) const;

  std::filesystem::path file_;
  Layout* layout_;
  Holder* holders_ = nullptr;  // the pool as this process has it mapped
  uint32_t holders_mapped_ = 0;
};

}  // namespace winsim

#endif
