// Handles of kernel objects, time, and who is calling.
#include <windows.h>

#include <winsim/call.h>
#include <winsim/handles.h>

#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

extern "C" BOOL WINAPI CloseHandle(HANDLE object) {
  winsim::Call call("CloseHandle", object);
  if (call.Faulted()) return call.Fail(FALSE);
  // Keys, printers and searches have calls of their own to close them.
  const auto value = reinterpret_cast<uintptr_t>(object);
  if (!winsim::FindHandleOf<winsim::KernelObject>(value) || !winsim::RemoveHandle(value))
    return call.Fail(FALSE, ERROR_INVALID_HANDLE);
  return call.Return(TRUE);
}

extern "C" void WINAPI Sleep(DWORD milliseconds) {
  winsim::Call call("Sleep", milliseconds);
  if (milliseconds == INFINITE) {
    for (;;) ::pause();
  }
  timespec left{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000};
  if (milliseconds == 0) {
    ::sched_yield();
  } else {
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
  }
  call.ReturnVoid();
}

// Milliseconds since the host started, wrapping after 49.7 days as on Windows.
extern "C" DWORD WINAPI GetTickCount(void) {
  winsim::Call call("GetTickCount");
  timespec now{};
  ::clock_gettime(CLOCK_BOOTTIME, &now);
  const auto ms =
      static_cast<unsigned long long>(now.tv_sec) * 1000 + static_cast<unsigned long long>(now.tv_nsec) / 1000000;
  return call.Return(static_cast<DWORD>(ms));
}

extern "C" DWORD WINAPI GetCurrentProcessId(void) {
  winsim::Call call("GetCurrentProcessId");
  return call.Return(static_cast<DWORD>(::getpid()));
}

extern "C" DWORD WINAPI GetCurrentThreadId(void) {
  winsim::Call call("GetCurrentThreadId");
  return call.Return(static_cast<DWORD>(::gettid()));
}
