// winsim run: runs a program of the machine, found as WinExec finds it, in place of this command.
#include "command.h"

#include <winsim/process.h>

#include <cstdio>

namespace winsim_tool {
namespace {

// As a shell says it: 127 when there is no such program, 126 when it cannot be started.
constexpr int kNotFound = 127;
constexpr int kCannotStart = 126;

const char* Reason(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
      return "no such program";
    case ERROR_PATH_NOT_FOUND:
      return "no such folder";
    case ERROR_ACCESS_DENIED:
      return "it is a folder or may not be run";
    case ERROR_BAD_FORMAT:
      return "not a program the machine can run";
    case ERROR_INVALID_NAME:
      return "not a valid name";
    case ERROR_FILENAME_EXCED_RANGE:
      return "too long";
    default:
      return "start failed";
  }
}

int RunRun(const Invocation& invocation) {
  if (invocation.args.empty()) throw UsageError("needs a command line");
  winsim::StartRequest request;
  for (const std::string& word : invocation.args)
    request.command_line += (request.command_line.empty() ? "" : " ") + word;
  request.show = SW_SHOWNORMAL;
  request.use_show = true;
  // The program takes this process's place: its end and exit code are the command's, and a signal
  // meant for the command reaches the program, as with a shell's foreground job.
  const DWORD error = winsim::ReplaceWithProgram(request);
  // A line over the limit is named by its length: echoed whole it would bury the message.
  if (request.command_line.size() > winsim::kMaxCommandLine) {
    std::fprintf(stderr, "winsim run: cannot start a command line of %zu bytes: longer than %zu (error %u)\n",
                 request.command_line.size(), winsim::kMaxCommandLine, static_cast<unsigned>(error));
    return kCannotStart;
  }
  std::fprintf(stderr, "winsim run: cannot start '%s': %s (error %u)\n", request.command_line.c_str(), Reason(error),
               static_cast<unsigned>(error));
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? kNotFound : kCannotStart;
}

const Command winsim_command_run{
    "run", "run COMMAND LINE...    (exits with the program's code; 127: no program found, 126: cannot start it)",
    RunRun};
WINSIM_COMMAND(run);

}  // namespace
}  // namespace winsim_tool
