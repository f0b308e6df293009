#include "install_lock.h"

namespace {

constexpr char kLockName[] = "KDRInstalled";
constexpr DWORD kWaitSliceMs = 1000;
constexpr DWORD kPauseAfterReleaseMs = 1000;

// Waits until the event is signalled or the wait fails, handling one message between slices.
void WaitForRelease(HANDLE event) {
  while (WaitForSingleObject(event, kWaitSliceMs) == WAIT_TIMEOUT) {
    MSG msg;
    if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
}

// The event, created non-signalled when it is new; `existed` tells whether it was there already.
HANDLE CreateLockEvent(bool* existed) {
  SetLastError(ERROR_SUCCESS);
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, kLockName);
  *existed = event && GetLastError() == ERROR_ALREADY_EXISTS;
  return event;
}

}  // namespace

InstallLock::InstallLock() {
  bool existed = false;
  HANDLE waited = nullptr;
  while (!waited) {
    waited = OpenEventA(SYNCHRONIZE, FALSE, kLockName);
    if (waited) break;
    event_ = CreateLockEvent(&existed);
    if (event_ && !existed) return;
    // Another taker created the event between our open and our create: it holds the lock.
    waited = event_;
    // Neither open nor create gave a handle: nothing tells whether the lock is held, so never go
    // on unguarded; pause as a released waiter does and try again.
    if (!waited) Sleep(kPauseAfterReleaseMs);
  }
  WaitForRelease(waited);
  // The waited-on handle stays open through the pause: the event lives on, non-signalled, so a
  // newcomer finds it and waits instead of creating a fresh one and going ahead of us. This phase
  // took the release's signal, so it alone may go on, once it has a handle of its own.
  do {
    Sleep(kPauseAfterReleaseMs);
    event_ = CreateLockEvent(&existed);
  } while (!event_);
  CloseHandle(waited);
}

InstallLock::~InstallLock() {
  SetEvent(event_);
  CloseHandle(event_);
}
