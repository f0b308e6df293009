// Tells the tests what a started program sees: its name, command line, command tail, show state,
// current directory and machine, written as NAME=VALUE lines into MACHINE/cmdprobe/PID.
#include <windows.h>

#include <winsim/machine.h>
#include <winsim/paths.h>
#include <winsim/process.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR lpCmdLine, int nShowCmd) {
  const fs::path folder = winsim::CurrentMachine().Folder() / "cmdprobe";
  fs::create_directories(folder);
  const std::string pid = std::to_string(::getpid());
  {
    std::ofstream out(folder / (pid + ".part"), std::ios::binary);
    out << "pid=" << pid << "\n"
        << "program=" << winsim::ProgramName() << "\n"
        << "cmdline=" << GetCommandLineA() << "\n"
        << "tail=" << lpCmdLine << "\n"
        << "show=" << nShowCmd << "\n"
        << "cwd=" << winsim::CurrentDirectory() << "\n"
        << "machine=" << winsim::CurrentMachine().Folder().string() << "\n";
  }
  // Whole records only: the tests wait for the file to appear.
  fs::rename(folder / (pid + ".part"), folder / pid);
  return 0;
}
