// The machine's program start-up: what a C runtime does before WinMain.
#include <windows.h>

#include <winsim/machine.h>
#include <winsim/startup.h>

#include <cstdio>

extern "C" int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd);

int main(int argc, char** argv) {
  try {
    winsim::StartUpProcess(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", argc > 0 ? argv[0] : "program", e.what());
    return 1;
  }
  LPSTR tail = winsim::CommandTail(GetCommandLineA());
  return WinMain(GetModuleHandleA(nullptr), nullptr, tail, winsim::StartupShowState());
}
