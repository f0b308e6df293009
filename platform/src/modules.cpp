// Placeholder until the module loader lands.
#include <windows.h>

extern "C" HMODULE WINAPI GetModuleHandleA(LPCSTR) { return reinterpret_cast<HMODULE>(0x400000); }
