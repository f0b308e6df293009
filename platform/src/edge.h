// The edge of a public call: host failures become Windows errors here, once.
#ifndef WINSIM_EDGE_H
#define WINSIM_EDGE_H

#include <winsim/call.h>

#include <exception>
#include <new>

namespace winsim {

// Runs `body`, which returns through `call`. A host failure on the way (no machine, an unreadable
// database, no memory) fails the call with `failed` instead of unwinding into the program.
template <class R, class Body>
R Guarded(Call& call, R failed, Body&& body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return call.Fail(failed, ERROR_NOT_ENOUGH_MEMORY);
  } catch (const std::exception&) {
    return call.Fail(failed, ERROR_NOT_READY);
  }
}

// The Windows error for a host errno.
DWORD ErrorFromErrno(int error);

}  // namespace winsim

#endif
