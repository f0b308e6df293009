// winsim init: a fresh machine, with the machine's own RUNDLL32.EXE in its Windows folder.
#include "command.h"

#include <winsim/machine.h>

#include <unistd.h>

#include <cstdio>

namespace fs = std::filesystem;

namespace winsim_tool {
namespace {

fs::path ToolFolder() {
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) throw CommandError("cannot find winsim's own folder");
  return fs::path(std::string(buf, static_cast<size_t>(n))).parent_path();
}

int RunInit(const Invocation& invocation) {
  std::vector<std::string> args = invocation.args;
  std::string os = TakeOption(args, "--os");
  std::string codepage = TakeOption(args, "--codepage");
  ExpectNoMore(args);
  if (os.empty()) os = "98";
  if (codepage.empty()) codepage = "1252";
  if (os != "98" && os != "nt4") throw UsageError("--os is 98 or nt4, not '" + os + "'");
  if (codepage != "1252" && codepage != "932") throw UsageError("--codepage is 1252 or 932, not '" + codepage + "'");
  const bool nt = os == "nt4";

  fs::path rundll32 = ToolFolder() / "rundll32.exe";
  if (!fs::exists(rundll32)) throw CommandError("no rundll32.exe beside winsim (" + rundll32.string() + ")");
  winsim::CreateMachine(invocation.machine, nt ? winsim::WindowsFlavour::Nt4 : winsim::WindowsFlavour::Win98,
                        static_cast<unsigned>(std::stoul(codepage)), [&](const fs::path& folder) {
                          std::error_code ec;
                          fs::copy_file(rundll32, folder / "drive_c" / (nt ? "WINNT" : "WINDOWS") / "RUNDLL32.EXE", ec);
                          if (ec) throw CommandError("cannot put RUNDLL32.EXE on the machine: " + ec.message());
                        });
  std::printf("machine %s: Windows %s, code page %s\n", invocation.machine.c_str(), nt ? "NT 4.0" : "98",
              codepage.c_str());
  return 0;
}

const Command winsim_command_init{"init", "init [--os 98|nt4] [--codepage 1252|932]", RunInit, true};
WINSIM_COMMAND(init);

}  // namespace
}  // namespace winsim_tool
