// A library for the loader's tests: it writes what happens to it, line by line, into the host
// file named by MODTEST_LOG; MODTEST_REFUSE makes its DllMain refuse the load.
#include <windows.h>

#include "resource.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

namespace {

void Log(const std::string& line) {
  const char* path = std::getenv("MODTEST_LOG");
  if (!path) return;
  if (FILE* f = std::fopen(path, "a")) {
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
  }
}

struct Witness {
  Witness() { Log("construct"); }
  ~Witness() { Log("destroy"); }
} witness;

HINSTANCE g_instance;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_instance = instance;
    char greeting[64];
    LoadStringA(instance, IDS_GREETING, greeting, sizeof greeting);
    Log(std::string("attach ") + greeting);
    return std::getenv("MODTEST_REFUSE") ? FALSE : TRUE;
  }
  if (reason == DLL_PROCESS_DETACH) Log(reserved ? "detach at exit" : "detach");
  return TRUE;
}

extern "C" int Greeting(void) { return 42; }

extern "C" void CALLBACK RecordCall(HWND window, HINSTANCE instance, LPSTR line, int show) {
  Log(std::string("RecordCall window ") + (window ? "given" : "null") + ", instance " +
      (instance == g_instance ? "own" : "other") + ", show " + std::to_string(show) + ", line [" + line + "]");
}

extern "C" void CALLBACK ThrowBadAlloc(HWND, HINSTANCE, LPSTR, int) { throw std::bad_alloc(); }
