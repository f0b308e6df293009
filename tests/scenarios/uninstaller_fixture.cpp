#include "uninstaller_fixture.h"

#include <winsim/call.h>
#include <winsim/machine.h>
#include <winsim/printers.h>

#include <fstream>
#include <sstream>

namespace testing_support {

::testing::AssertionResult SameNames(const std::set<std::string>& actual, const std::set<std::string>& expected) {
  std::string missing, extra;
  for (const std::string& name : expected)
    if (!actual.count(name)) missing += "\n  missing: " + name;
  for (const std::string& name : actual)
    if (!expected.count(name)) extra += "\n  extra: " + name;
  if (missing.empty() && extra.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << missing << extra;
}

std::set<std::string> Minus(std::set<std::string> all, const std::vector<std::string>& gone) {
  for (const std::string& g : gone) all.erase(g);
  return all;
}

UninstallerScenario::UninstallerScenario(winsim::WindowsFlavour os, const char* program, const char* image)
    : machine_(os), image_(image) {
  machine_.Put(BinPath(program), image_);
  machine_.Write(kRecorder,
                 "#!/bin/sh\n"
                 "printf '%s|%s\\n' \"$WINSIM_CMDLINE\" \"$WINSIM_CWD\" >> \"$WINSIM_MACHINE/chained.log\"\n");
  std::filesystem::permissions(machine_.Host(kRecorder), std::filesystem::perms::owner_exec,
                               std::filesystem::perm_options::add);
}

void UninstallerScenario::Import(const std::string& body) {
  RunResult r = Winsim(machine_.Folder(), {"reg", "import", "-"}, "REGEDIT4\r\n\r\n" + body);
  ASSERT_EQ(r.exit_code, 0) << r.err;
}

void UninstallerScenario::AddPrinter(const std::string& name, bool needs_admin) {
  std::vector<std::string> args = {"printer", "add", name, "--driver", name, "--port", "LPT1:"};
  if (needs_admin) args.push_back("--needs-admin");
  RunResult r = Winsim(machine_.Folder(), args);
  ASSERT_EQ(r.exit_code, 0) << r.err;
}

RunResult UninstallerScenario::Run(const std::string& tail) {
  EXPECT_EQ(Winsim(machine_.Folder(), {"trace", "on"}).exit_code, 0);
  std::vector<std::string> argv = {"/usr/bin/env",     "WINSIM_CWD=C:\\KIT",       BinPath("winsim").string(),
                                   "--machine",        machine_.Folder().string(), "run",
                                   image_ + " " + tail};
  return RunHost(machine_.Folder(), argv);
}

std::set<std::string> UninstallerScenario::Keys() {
  RunResult r = Winsim(machine_.Folder(), {"reg", "export"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  std::set<std::string> keys;
  std::istringstream in(r.out);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > 2 && line.front() == '[' && line.back() == ']') keys.insert(line.substr(1, line.size() - 2));
  }
  return keys;
}

std::set<std::string> UninstallerScenario::Printers() {
  std::set<std::string> names;
  for (const winsim::PrinterInfo& printer : winsim::ListPrinters()) names.insert(printer.name);
  return names;
}

std::vector<winsim::TraceEntry> UninstallerScenario::Trace(const std::string& program) {
  std::vector<winsim::TraceEntry> lines;
  winsim::ForEachTraceEntry([&](const winsim::TraceEntry& line) {
    if (line.program == program) lines.push_back(line);
  });
  return lines;
}

std::vector<std::string> UninstallerScenario::LeftOpen(const std::string& program) {
  std::vector<std::string> open;
  for (const winsim::TraceEntry& line : Trace(program)) {
    if (line.call == "<exit>") open.push_back(line.args);
  }
  return open;
}

std::string UninstallerScenario::WaitForChained() {
  std::filesystem::path log = machine_.Folder() / "chained.log";
  std::string text;
  WaitUntil([&] {
    std::ifstream in(log);
    std::getline(in, text);
    return !text.empty();
  });
  return text;
}

}  // namespace testing_support
