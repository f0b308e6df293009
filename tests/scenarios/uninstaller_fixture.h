// What the uninstaller scenarios share: a fresh machine with an uninstaller on it, a chained
// command that records how it was started, and readers of the machine's state.
#ifndef TESTS_UNINSTALLER_FIXTURE_H
#define TESTS_UNINSTALLER_FIXTURE_H

#include <gtest/gtest.h>
#include <winsim/call.h>

#include <set>
#include <string>
#include <vector>

#include "run.h"
#include "temp_machine.h"

namespace testing_support {

// Compares two sets of names and says which are missing and which are extra.
::testing::AssertionResult SameNames(const std::set<std::string>& actual, const std::set<std::string>& expected);

// `all` less the names in `gone`.
std::set<std::string> Minus(std::set<std::string> all, const std::vector<std::string>& gone);

class UninstallerScenario : public ::testing::Test {
 protected:
  UninstallerScenario(winsim::WindowsFlavour os, const char* program, const char* image);

  // REGEDIT4 text without its first line.
  void Import(const std::string& body);
  void AddPrinter(const std::string& name, bool needs_admin = false);
  // Runs the uninstaller with this command tail from the folder C:\KIT, with the trace on.
  RunResult Run(const std::string& tail);

  std::set<std::string> Keys();  // "HKEY_LOCAL_MACHINE\..." as exported
  std::set<std::string> Printers();
  std::vector<winsim::TraceEntry> Trace(const std::string& program);
  // Handles that the program left open at its end, as the trace noted them.
  std::vector<std::string> LeftOpen(const std::string& program);
  // The chained command's record: its command line and its current folder, once it has run.
  std::string WaitForChained();

  TempMachine machine_;
  std::string image_;  // Windows path of the uninstaller
  static constexpr const char* kRecorder = "C:\\KIT\\RECORD.EXE";
};

}  // namespace testing_support

#endif
