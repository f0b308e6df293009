// winsim shell: the shell's desktop window, and the programs of the Run key that the shell starts.
#include "command.h"
#include "foreground.h"

#include <winsim/call.h>
#include <winsim/machine.h>
#include <winsim/process.h>
#include <winsim/registry.h>
#include <winsim/windows_table.h>

#include <windows.h>

#include <cstdio>
#include <optional>

namespace winsim_tool {
namespace {

constexpr const char* kDesktopCaption = "Program Manager";
constexpr const char* kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

struct RunValue {
  std::string name;
  std::string command_line;
};

std::string Quoted(const std::string& text) { return winsim::Arg(std::string_view(text)).text; }

// The Run key's REG_SZ values in the order they were written; the shell passes over the others.
std::vector<RunValue> RunValues() {
  std::vector<RunValue> values;
  for (const winsim::RegistryValue& value : winsim::ReadKeyValues(kRunKey)) {
    if (value.type != REG_SZ) {
      std::printf("passed over %s: not REG_SZ\n", Quoted(value.name).c_str());
      continue;
    }
    std::string data = value.data.substr(0, value.data.find('\0'));
    if (!data.empty()) values.push_back({value.name, data});
  }
  return values;
}

int Start(const Invocation& invocation) {
  std::vector<std::string> args = invocation.args;
  const bool wait = TakeFlag(args, "--wait");
  ExpectNoMore(args);
  std::optional<Foreground> foreground;
  if (wait) foreground.emplace();
  // Of shells started at once, only the one that puts up the desktop window goes on. While a shell
  // waits, the window is its own and goes with it however it ends, a SIGKILL included; once the
  // wait is over it is the machine's, and stays.
  HWND desktop = winsim::AddWindowOnce(kDesktopCaption, wait);
  if (!desktop) throw CommandError("the shell is running already");
  const std::vector<RunValue> values = RunValues();
  std::printf("shell started: window %p \"%s\"\n", static_cast<void*>(desktop), kDesktopCaption);

  struct Started {
    const RunValue* value;
    winsim::StartedProgram program;
  };
  std::vector<Started> started;
  for (const RunValue& value : values) {
    winsim::StartRequest request;
    request.command_line = value.command_line;
    request.current_directory = winsim::CurrentMachine().Settings().windows_dir;
    request.wait_later = wait;
    winsim::StartedProgram program;
    const DWORD error = winsim::StartProgram(request, &program);
    if (error != ERROR_SUCCESS) {
      std::printf("not started %s: %s (error %u)\n", Quoted(value.name).c_str(), Quoted(value.command_line).c_str(),
                  error);
      continue;
    }
    std::printf("started %s: %s\n", Quoted(value.name).c_str(), Quoted(value.command_line).c_str());
    started.push_back({&value, program});
  }
  std::fflush(stdout);
  if (wait) {
    std::vector<int> pids;
    for (const Started& s : started) pids.push_back(s.program.id.pid);
    const int signal = foreground->Wait(pids, [&](size_t i, int code) {
      std::printf("ended %s: exit code %d\n", Quoted(started[i].value->name).c_str(), code);
      std::fflush(stdout);
    });
    if (signal) {
      // Stopped with its programs: the next start finds no shell running.
      winsim::RemoveWindow(desktop);
      std::printf("shell stopped\n");
      std::fflush(stdout);
      EndBySignal(signal);
    }
    winsim::GiveWindowToMachine(desktop);
  }
  return 0;
}

int Stop(const Invocation& invocation) {
  ExpectNoMore(invocation.args);
  // The desktop window of a shell that waits is its own; stopping the shell takes it down all the same.
  int removed = 0;
  for (const winsim::WindowInfo& window : winsim::ListWindows())
    if (window.caption == kDesktopCaption) removed += winsim::RemoveWindow(window.hwnd) ? 1 : 0;
  if (removed == 0) throw CommandError("the shell is not running");
  std::printf("shell stopped\n");
  return 0;
}

const Command winsim_command_shell_start{
    "shell start",
    "shell start [--wait]      shows \"Program Manager\", starts the Run key's programs; --wait: until they end",
    Start};
WINSIM_COMMAND(shell_start);
const Command winsim_command_shell_stop{"shell stop", "shell stop                removes \"Program Manager\"", Stop};
WINSIM_COMMAND(shell_stop);

}  // namespace
}  // namespace winsim_tool
