// Temporary: the kernel calls bring the real one.
#include <windows.h>

#include <unistd.h>

extern "C" DWORD WINAPI GetCurrentThreadId(void) { return static_cast<DWORD>(::gettid()); }
