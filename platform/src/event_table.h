// The machine's events: one table in shared memory (events.shm in the machine folder) that every
// process of the machine maps. An event lives as long as some live process holds a handle to it;
// the holders of processes that ended, killed ones included, are dropped whenever a lookup meets them.
#ifndef WINSIM_EVENT_TABLE_H
#define WINSIM_EVENT_TABLE_H

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string_view>

namespace winsim {

// Where an event lives in the table. The generation tells a slot reused for another event.
struct EventRef {
  uint32_t slot = 0;
  uint32_t generation = 0;
};

class EventTable {
 public:
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
  // ERROR_NOT_ENOUGH_MEMORY (no room left in the table).
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
  struct Layout;
  struct Slot;
  class Locked;

  Slot* Live(const EventRef& ref);
  Slot* FindNamed(std::string_view name);
  Slot* FreeSlot();
  EventRef RefOf(const Slot& slot) const;

  std::filesystem::path folder_;
  Layout* layout_;
};

}  // namespace winsim

#endif
