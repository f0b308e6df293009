// winsim shell: the shell's desktop window, and the programs of the Run key that the shell starts.
#include "command.h"
#include "foreground.h"

#include <winsim/call.h>
#include <winsim/db.h>
#include <winsim/machine.h>
#include <winsim/process.h>
#include <winsim/windows_table.h>

#include <windows.h>

#include <cstdio>
#include <optional>

namespace winsim_tool {
namespace {

constexpr const char* kDesktopCaption = "Program Manager";
// The key's path below HKEY_LOCAL_MACHINE as the registry keeps it: letters in lower case.
constexpr const char* kRunKey = "software\\microsoft\\windows\\currentversion\\run";

struct RunValue {
  std::string name;
  std::string command_line;
};

std::string Quoted(const std::string& text) { return winsim::Arg(std::string_view(text)).text; }

bool ShellRunning() {
  for (const winsim::WindowInfo& w : winsim::ListWindows())
    if (w.pid == 0 && w.caption == kDesktopCaption) return true;
  return false;
}

// The Run key's REG_SZ values in the order they were written; the shell passes over the others.
std::vector<RunValue> RunValues() {
  winsim::Db& db = winsim::CurrentMachine().Database();
  winsim::Stmt s(db,
                 "SELECT v.name, v.type, v.data FROM reg_values v JOIN reg_keys k ON v.key = k.id "
                 "WHERE CAST(k.path AS BLOB) = CAST(? AS BLOB) ORDER BY v.id");
  s.Bind(1, kRunKey);
  std::vector<RunValue> values;
  while (s.Step()) {
    if (s.Int(1) != REG_SZ) {
      std::printf("passed over %s: not REG_SZ\n", Quoted(s.Text(0)).c_str());
      continue;
    }
    std::string data = s.Text(2);
    data = data.substr(0, data.find('\0'));
    if (!data.empty()) values.push_back({s.Text(0), data});
  }
  return values;
}

int Start(bool wait) {
  std::optional<Foreground> foreground;
  if (wait) foreground.emplace();
  if (ShellRunning()) throw CommandError("the shell is running already");
  const std::vector<RunValue> values = RunValues();
  HWND desktop = winsim::AddWindow(kDesktopCaption, false);
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
  }
  return 0;
}

int Stop() {
  if (winsim::RemoveWindowsByCaption(kDesktopCaption) == 0) throw CommandError("the shell is not running");
  std::printf("shell stopped\n");
  return 0;
}

int RunShell(const Invocation& invocation) {
  std::vector<std::string> args = invocation.args;
  if (args.empty()) throw UsageError("start or stop?");
  const std::string verb = args.front();
  args.erase(args.begin());
  if (verb == "start") {
    const bool wait = TakeFlag(args, "--wait");
    ExpectNoMore(args);
    return Start(wait);
  }
  if (verb == "stop") {
    ExpectNoMore(args);
    return Stop();
  }
  throw UsageError("unknown shell command '" + verb + "'");
}

const Command winsim_command_shell{
    "shell",
    "shell start [--wait]      shows \"Program Manager\", starts the Run key's programs; --wait: until they end\n"
    "shell stop                removes \"Program Manager\"",
    RunShell};
WINSIM_COMMAND(shell);

}  // namespace
}  // namespace winsim_tool
