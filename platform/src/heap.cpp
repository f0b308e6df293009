// The process heap. Allocations pass the fault plan, which is how a failed allocation is made on purpose.
#include <windows.h>

#include <winsim/call.h>

#include <cstdlib>
#include <cstring>

namespace {

// Any fixed non-null value: the process has one heap.
const HANDLE kProcessHeap = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x00140000));

}  // namespace

extern "C" HANDLE WINAPI GetProcessHeap(void) {
  winsim::Call call("GetProcessHeap");
  return call.Return(kProcessHeap);
}

extern "C" LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes) {
  winsim::Call call("HeapAlloc", heap, winsim::Arg::Hex(flags), bytes);
  if (call.Faulted()) return call.Fail(LPVOID{nullptr});
  if (heap != kProcessHeap) return call.Fail(LPVOID{nullptr}, ERROR_INVALID_HANDLE);
  // A block of no bytes is still a block of its own.
  void* block = (flags & HEAP_ZERO_MEMORY) ? std::calloc(bytes ? bytes : 1, 1) : std::malloc(bytes ? bytes : 1);
  if (!block) return call.Fail(LPVOID{nullptr}, ERROR_NOT_ENOUGH_MEMORY);
  return call.Return(block);
}

extern "C" BOOL WINAPI HeapFree(HANDLE heap, DWORD flags, LPVOID block) {
  winsim::Call call("HeapFree", heap, winsim::Arg::Hex(flags), block);
  if (heap != kProcessHeap) return call.Fail(FALSE, ERROR_INVALID_HANDLE);
  std::free(block);
  return call.Return(TRUE);
}
