// winsim reg: the machine's registry in and out as REGEDIT4 text.
#include "command.h"

#include <winsim/registry.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

namespace winsim_tool {
namespace {

std::string ReadAll(const std::string& file) {
  if (file == "-") {
    std::ostringstream text;
    text << std::cin.rdbuf();
    if (std::cin.bad()) throw CommandError("cannot read standard input");
    return text.str();
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) throw CommandError("cannot read " + file + ": " + std::strerror(errno));
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw CommandError("cannot read " + file);
  return text;
}

int Import(std::vector<std::string> args) {
  if (args.empty()) throw UsageError("reg import needs a FILE (- for standard input)");
  const std::string file = args.front();
  args.erase(args.begin());
  ExpectNoMore(args);
  const std::string text = ReadAll(file);
  try {
    winsim::ImportRegedit4(text);
  } catch (const winsim::RegeditError& e) {
    throw CommandError((file == "-" ? std::string("(stdin)") : file) + ":" + std::to_string(e.Line()) + ": " +
                       e.Reason());
  }
  return 0;
}

int Export(std::vector<std::string> args) {
  std::optional<std::string> key;
  if (!args.empty()) {
    key = args.front();
    args.erase(args.begin());
  }
  ExpectNoMore(args);
  const std::string text = winsim::ExportRegedit4(key);
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
    throw CommandError(std::string("cannot write the export: ") + std::strerror(errno));
  return 0;
}

int RunReg(const Invocation& invocation) {
  std::vector<std::string> args = invocation.args;
  if (args.empty()) throw UsageError("reg needs import or export");
  const std::string verb = args.front();
  args.erase(args.begin());
  if (verb == "import") return Import(std::move(args));
  if (verb == "export") return Export(std::move(args));
  throw UsageError("unknown reg command '" + verb + "'");
}

const Command winsim_command_reg{"reg", "reg import FILE|-\nreg export [KEY]", RunReg};
WINSIM_COMMAND(reg);

}  // namespace
}  // namespace winsim_tool
