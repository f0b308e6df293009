// winsim's commands: each lives in a file of its own and registers itself here.
#ifndef WINSIM_TOOL_COMMAND_H
#define WINSIM_TOOL_COMMAND_H

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace winsim_tool {

// Bad words on the command line: printed with the command's usage, exit code 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Any other failure: one line on stderr, exit code 1.
class CommandError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Invocation {
  std::filesystem::path machine;  // from --machine, WINSIM_MACHINE or ~/.winsim
  std::vector<std::string> args;  // the words after the command's name
};

struct Command {
  const char* name;   // one word ("diff"), or a group and its verb ("printer add")
  const char* usage;  // one line per form, without "winsim "; `winsim NAME --help` prints it
  // Exit code of winsim. The machine is opened first unless `creates_machine`.
  int (*run)(const Invocation&);
  bool creates_machine = false;
};

bool RegisterCommand(const Command& command);

// Pops "--name VALUE" from args; empty when absent. Throws UsageError when the value is missing.
std::string TakeOption(std::vector<std::string>& args, const std::string& name);
// Pops "--name"; true when it was there.
bool TakeFlag(std::vector<std::string>& args, const std::string& name);
// Throws UsageError when words are left over.
void ExpectNoMore(const std::vector<std::string>& args);

}  // namespace winsim_tool

// At namespace scope in a command's file: WINSIM_COMMAND(reg) = {"reg", "reg import FILE|-...", RunReg};
#define WINSIM_COMMAND(id)                                                                        \
  static const bool winsim_registered_##id = ::winsim_tool::RegisterCommand(winsim_command_##id); \
  static_assert(true)

#endif
