// Named events, shared by every process of the machine, and the waits on them.
#include <windows.h>

#include <winsim/call.h>
#include <winsim/handles.h>

#include "event_table.h"

#include <cstdio>
#include <new>

namespace winsim {
namespace {

class EventHandle : public KernelObject {
 public:
  EventHandle(std::shared_ptr<EventTable> table, std::string name, DWORD access)
      : table_(std::move(table)), name_(std::move(name)), access_(access) {}
  ~EventHandle() override {
    if (held_) table_->Release(ref_);
  }
  std::string Describe() const override { return name_.empty() ? "event (unnamed)" : "event " + Arg(name_).text; }

  // Takes the handle on the event; ERROR_SUCCESS or ERROR_ALREADY_EXISTS when it holds one.
  DWORD Create(bool manual_reset, bool initially_signalled) {
    return Hold(table_->Create(name_, manual_reset, initially_signalled, &ref_));
  }
  DWORD Open() { return Hold(table_->Open(name_, &ref_)); }

  bool Allows(DWORD rights) const { return (access_ & rights) == rights; }
  EventTable& Table() const { return *table_; }
  const EventRef& Ref() const { return ref_; }

 private:
  DWORD Hold(DWORD status) {
    held_ = status == ERROR_SUCCESS || status == ERROR_ALREADY_EXISTS;
    return status;
  }

  std::shared_ptr<EventTable> table_;
  std::string name_;
  DWORD access_;
  EventRef ref_;
  bool held_ = false;
};

DWORD ErrorOf(const std::exception& e, const char* call) {
  if (dynamic_cast<const std::bad_alloc*>(&e)) return ERROR_NOT_ENOUGH_MEMORY;
  std::fprintf(stderr, "winsim: %s: %s\n", call, e.what());
  return ERROR_GEN_FAILURE;
}

// A new handle on the event `name`: `take` takes it, returning ERROR_SUCCESS or ERROR_ALREADY_EXISTS
// when it holds one, else the failure. Null with the last error set when it fails.
template <class Take>
HANDLE NewHandle(const char* call, LPCSTR name, DWORD access, Take take) {
  try {
    auto handle = std::make_shared<EventHandle>(EventTable::OfCurrentMachine(), name ? name : "", access);
    DWORD status = take(*handle);
    if (status != ERROR_SUCCESS && status != ERROR_ALREADY_EXISTS) {
      SetLastError(status);
      return nullptr;
    }
    return reinterpret_cast<HANDLE>(AddHandle(std::move(handle)));
  } catch (const std::exception& e) {
    SetLastError(ErrorOf(e, call));
    return nullptr;
  }
}

}  // namespace
}  // namespace winsim

using winsim::EventHandle;

extern "C" HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manual_reset, BOOL initial_state,
                                      LPCSTR name) {
  winsim::Call call("CreateEventA", attributes, manual_reset, initial_state, name);
  if (call.Faulted()) return call.Fail(HANDLE{nullptr});
  return call.Return(winsim::NewHandle("CreateEventA", name, EVENT_ALL_ACCESS, [&](EventHandle& h) {
    DWORD status = h.Create(manual_reset != FALSE, initial_state != FALSE);
    // Tells the caller whether the event was there before.
    SetLastError(status);
    return status;
  }));
}

extern "C" HANDLE WINAPI OpenEventA(DWORD desired_access, BOOL inherit_handle, LPCSTR name) {
  winsim::Call call("OpenEventA", winsim::Arg::Hex(desired_access), inherit_handle, name);
  if (call.Faulted()) return call.Fail(HANDLE{nullptr});
  // Assumed: a missing name is a bad argument rather than a name that no event has.
  if (!name) return call.Fail(HANDLE{nullptr}, ERROR_INVALID_PARAMETER);
  return call.Return(winsim::NewHandle("OpenEventA", name, desired_access, [](EventHandle& h) { return h.Open(); }));
}

namespace {

// Set and Reset: the handle must allow changing the state.
template <class Change>
BOOL ChangeState(winsim::Call& call, HANDLE event, Change change) {
  if (call.Faulted()) return call.Fail(FALSE);
  auto handle = winsim::FindHandleOf<EventHandle>(event);
  if (!handle) return call.Fail(FALSE, ERROR_INVALID_HANDLE);
  if (!handle->Allows(EVENT_MODIFY_STATE)) return call.Fail(FALSE, ERROR_ACCESS_DENIED);
  if (!change(handle->Table(), handle->Ref())) return call.Fail(FALSE, ERROR_INVALID_HANDLE);
  return call.Return(TRUE);
}

}  // namespace

extern "C" BOOL WINAPI SetEvent(HANDLE event) {
  winsim::Call call("SetEvent", event);
  return ChangeState(call, event, [](winsim::EventTable& t, const winsim::EventRef& r) { return t.Set(r); });
}

extern "C" BOOL WINAPI ResetEvent(HANDLE event) {
  winsim::Call call("ResetEvent", event);
  return ChangeState(call, event, [](winsim::EventTable& t, const winsim::EventRef& r) { return t.Reset(r); });
}

extern "C" DWORD WINAPI WaitForSingleObject(HANDLE object, DWORD milliseconds) {
  winsim::Call call("WaitForSingleObject", object, milliseconds);
  if (call.Faulted()) return call.Fail(WAIT_FAILED);
  auto handle = winsim::FindHandleOf<EventHandle>(object);
  if (!handle) return call.Fail(WAIT_FAILED, ERROR_INVALID_HANDLE);
  if (!handle->Allows(SYNCHRONIZE)) return call.Fail(WAIT_FAILED, ERROR_ACCESS_DENIED);
  DWORD result = handle->Table().Wait(handle->Ref(), milliseconds);
  if (result == WAIT_FAILED) return call.Fail(WAIT_FAILED, ERROR_INVALID_HANDLE);
  return call.Return(result);
}
