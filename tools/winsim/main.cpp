// winsim: creates, seeds, drives and inspects simulated Windows machines.
#include "command.h"

#include <winsim/machine.h>
#include <winsim/process.h>

#include <algorithm>
#include <cstdio>
#include <ios>
#include <map>
#include <new>
#include <string>

namespace winsim_tool {
namespace {

std::map<std::string, Command>& Commands() {
  static std::map<std::string, Command> commands;
  return commands;
}

// One line per form of the command, each as a person would type it.
void PrintForms(FILE* out, const char* indent, const std::string& usage) {
  size_t start = 0;
  while (start < usage.size()) {
    size_t end = usage.find('\n', start);
    if (end == std::string::npos) end = usage.size();
    std::fprintf(out, "%swinsim %s\n", indent, usage.substr(start, end - start).c_str());
    start = end + 1;
  }
}

void PrintUsage(FILE* out) {
  std::fprintf(out,
               "usage: winsim [--machine DIR] COMMAND ...   (winsim COMMAND --help: that command alone)\n\n"
               "Commands:\n");
  for (auto& [name, command] : Commands()) PrintForms(out, "  ", command.usage);
  std::fprintf(out, "\nThe machine is DIR, else $WINSIM_MACHINE, else ~/.winsim.\n");
}

// The command that the first words name ("printer add", else "diff"), and how many words it took.
const Command* FindCommand(const std::vector<std::string>& args, size_t* words) {
  if (args.size() >= 2) {
    auto two = Commands().find(args[0] + " " + args[1]);
    if (two != Commands().end()) {
      *words = 2;
      return &two->second;
    }
  }
  auto one = Commands().find(args[0]);
  *words = 1;
  return one == Commands().end() ? nullptr : &one->second;
}

// The commands of a group ("printer": add, list, remove), in name order.
std::vector<const Command*> CommandGroup(const std::string& word) {
  std::vector<const Command*> group;
  for (auto& [name, command] : Commands())
    if (name.rfind(word + " ", 0) == 0) group.push_back(&command);
  return group;
}

}  // namespace

bool RegisterCommand(const Command& command) {
  Commands().emplace(command.name, command);
  return true;
}

std::string TakeOption(std::vector<std::string>& args, const std::string& name) {
  auto it = std::find(args.begin(), args.end(), name);
  if (it == args.end()) return {};
  if (it + 1 == args.end()) throw UsageError(name + " needs a value");
  std::string value = *(it + 1);
  args.erase(it, it + 2);
  return value;
}

bool TakeFlag(std::vector<std::string>& args, const std::string& name) {
  auto it = std::find(args.begin(), args.end(), name);
  if (it == args.end()) return false;
  args.erase(it);
  return true;
}

void ExpectNoMore(const std::vector<std::string>& args) {
  if (!args.empty()) throw UsageError("unexpected '" + args.front() + "'");
}

}  // namespace winsim_tool

int main(int argc, char** argv) {
  using namespace winsim_tool;
  winsim::SetProgramName("winsim");
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string machine;
  try {
    // --machine may stand before the command or among its words, except after "run", whose words
    // are the program's own.
    if (!args.empty() && (args.front() == "--machine" || args.front() != "run")) {
      const bool given = std::find(args.begin(), args.end(), "--machine") != args.end();
      machine = TakeOption(args, "--machine");
      // An empty value would fall back on another machine without a word.
      if (given && machine.empty()) throw UsageError("--machine needs a folder, not an empty word");
    }
  } catch (const UsageError& e) {
    std::fprintf(stderr, "winsim: %s\n", e.what());
    return 2;
  }
  if (args.empty() || args.front() == "--help" || args.front() == "help") {
    PrintUsage(args.empty() ? stderr : stdout);
    return args.empty() ? 2 : 0;
  }
  size_t words = 0;
  const Command* found = FindCommand(args, &words);
  const bool help = args.size() > words && args[words] == "--help";
  if (!found) {
    const std::vector<const Command*> group = CommandGroup(args.front());
    if (group.empty()) {
      std::fprintf(stderr, "winsim: unknown command '%s' (winsim --help lists them)\n", args.front().c_str());
      return 2;
    }
    if (!help) {
      if (args.size() == 1)
        std::fprintf(stderr, "winsim %s: which one?\n", args.front().c_str());
      else
        std::fprintf(stderr, "winsim %s: unknown command '%s'\n", args[0].c_str(), args[1].c_str());
    }
    std::fprintf(help ? stdout : stderr, "usage:\n");
    for (const Command* command : group) PrintForms(help ? stdout : stderr, "  ", command->usage);
    return help ? 0 : 2;
  }
  const Command& command = *found;
  if (help) {
    std::printf("usage:\n");
    PrintForms(stdout, "  ", command.usage);
    return 0;
  }
  Invocation invocation{machine.empty() ? winsim::DefaultMachineFolder() : std::filesystem::absolute(machine),
                        std::vector<std::string>(args.begin() + static_cast<std::ptrdiff_t>(words), args.end())};
  try {
    if (!command.creates_machine) winsim::UseMachine(invocation.machine);
    return command.run(invocation);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "winsim %s: %s\nusage:\n", command.name, e.what());
    PrintForms(stderr, "  ", command.usage);
    return 2;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "winsim %s: out of memory\n", command.name);
    return 1;
  } catch (const std::filesystem::filesystem_error& e) {
    std::fprintf(stderr, "winsim %s: %s: %s\n", command.name, e.path1().c_str(), e.code().message().c_str());
    return 1;
  } catch (const std::ios_base::failure&) {
    std::fprintf(stderr, "winsim %s: cannot read or write a file\n", command.name);
    return 1;
  } catch (const std::exception& e) {
    // The machine's own errors, in the user's terms already.
    std::fprintf(stderr, "winsim %s: %s\n", command.name, e.what());
    return 1;
  }
}
