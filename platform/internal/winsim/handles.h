// The handles of this process: each kernel, spooler, registry, search or module object that a
// call handed out, until it is closed.
//
// When the process ends normally (exit, return from main) the handles still open are closed, as
// the system closes them, and with the trace on each one is first recorded as a line
//   call "<exit>", args "0x4, event \"KDRInstalled\"" (value, Describe()), result "left open", error 0.
// A killed process leaves no such line; the machine drops what it held the next time it looks.
#ifndef WINSIM_HANDLES_H
#define WINSIM_HANDLES_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace winsim {

class HandleObject {
 public:
  virtual ~HandleObject() = default;
  // For the trace: "event \"KDRInstalled\"", "key HKLM\\...", ...
  virtual std::string Describe() const = 0;
};

// Kernel objects (events, processes, threads) are the ones that CloseHandle closes.
class KernelObject : public HandleObject {};

// Values are multiples of 4 from 4 up, as on Windows, never reused while the process runs.
uintptr_t AddHandle(std::shared_ptr<HandleObject> object);
std::shared_ptr<HandleObject> FindHandle(uintptr_t value);
template <class T>
std::shared_ptr<T> FindHandleOf(uintptr_t value) {
  return std::dynamic_pointer_cast<T>(FindHandle(value));
}
template <class T>
std::shared_ptr<T> FindHandleOf(const void* value) {
  return FindHandleOf<T>(reinterpret_cast<uintptr_t>(value));
}
// Removes the handle; the object goes when nothing else holds it. False when there is no such handle.
bool RemoveHandle(uintptr_t value);
struct OpenHandle {
  uintptr_t value;
  std::string description;
};
std::vector<OpenHandle> OpenHandles();
// Drops every handle (machine switch, process end).
void DropAllHandles();

}  // namespace winsim

#endif
