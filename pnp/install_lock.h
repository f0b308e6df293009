// The install lock: the named auto-reset event "KDRInstalled", which keeps any two installation
// phases of the machine from running at the same time.
//
//   no event              nobody holds the lock
//   event, not signalled  a phase holds it (others may be waiting on the event)
//   event, signalled      the holder gave it back; the next wait takes the signal
#ifndef K4471PNP_INSTALL_LOCK_H
#define K4471PNP_INSTALL_LOCK_H

#include <windows.h>

class InstallLock {
 public:
  // Returns once this thread holds the lock, with a handle to the event. Waits without time-out,
  // handling at most one window message per one-second slice, and pauses one second after a
  // release, or after the event could be neither opened nor created, before trying again.
  InstallLock();
  // Signals the event, which lets exactly one waiting phase through, and closes the handle.
  ~InstallLock();
  InstallLock(const InstallLock&) = delete;
  InstallLock& operator=(const InstallLock&) = delete;

 private:
  HANDLE event_;
};

#endif
