// The Windows error for a machine operation that threw, converted once here at the edge.
#ifndef WINSIM_FAILURE_H
#define WINSIM_FAILURE_H

#include <windows.h>

#include <new>

namespace winsim {

// Call only inside a catch block: rethrows the exception in flight to name it.
inline DWORD ErrorOfCaughtException() {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  } catch (...) {
    return ERROR_GEN_FAILURE;
  }
}

}  // namespace winsim

#endif
