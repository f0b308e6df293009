// RUNDLL32.EXE on a machine: the entry gets its window, its library and the rest of the line;
// whatever goes wrong ends in a box or a line on stderr and a non-zero exit, never a crash.
#include <winsim/journal.h>
#include <winsim/machine.h>

#include <gtest/gtest.h>

#include "run.h"
#include "temp_machine.h"

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

using testing_support::BinPath;
using testing_support::RunHost;
using testing_support::RunResult;
using testing_support::TempMachine;

const std::vector<std::string> kLoaded = {"construct", "attach Hello from ModTest"};
const std::vector<std::string> kUnloaded = {"detach", "destroy"};

std::vector<std::string> Lines(std::vector<std::string> first, const std::vector<std::string>& rest = {},
                               const std::vector<std::string>& last = {}) {
  first.insert(first.end(), rest.begin(), rest.end());
  first.insert(first.end(), last.begin(), last.end());
  return first;
}

class RunDll32Test : public ::testing::Test {
 protected:
  RunDll32Test() {
    machine_.Put(BinPath("ModTest.dll"), "C:\\WINDOWS\\SYSTEM\\ModTest.dll");
    log_ = machine_.Folder().parent_path() / "modtest.log";
    ::setenv("MODTEST_LOG", log_.c_str(), 1);
  }
  ~RunDll32Test() override { ::unsetenv("MODTEST_LOG"); }

  RunResult RunDll32(const std::vector<std::string>& args) {
    std::filesystem::remove(log_);
    winsim::ClearJournal();
    std::vector<std::string> argv = {machine_.Host("C:\\WINDOWS\\RUNDLL32.EXE").string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunHost(machine_.Folder(), argv);
  }

  std::vector<std::string> Log() const {
    std::vector<std::string> lines;
    std::ifstream in(log_);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  // "caption: text" of each box shown.
  static std::vector<std::string> Boxes() {
    std::vector<std::string> boxes;
    for (const winsim::JournalEntry& entry : winsim::ListJournal()) {
      if (entry.kind == "box") boxes.push_back(entry.caption.value_or("") + ": " + entry.text.value_or(""));
    }
    return boxes;
  }

  TempMachine machine_;
  std::filesystem::path log_;
};

TEST_F(RunDll32Test, CallsTheEntryWithTheRestOfTheLine) {
  const std::string long_line(10000, 'x');
  struct Case {
    std::vector<std::string> args;
    std::string line;
  };
  const Case cases[] = {
      {{"modtest,RecordCall", "C:\\Enum\\Root", "C:\\Setup"}, "C:\\Enum\\Root C:\\Setup"},
      {{"MODTEST.DLL,RecordCall"}, ""},
      {{"modtest,RecordCall", long_line}, long_line},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    RunResult run = RunDll32(c.args);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(Log(),
              Lines(kLoaded, {"RecordCall window given, instance own, show 10, line [" + c.line + "]"}, kUnloaded));
    EXPECT_TRUE(Boxes().empty());
  }
}

TEST_F(RunDll32Test, FailuresEndInABoxAndAnExitCode) {
  const std::string usage =
      "RunDLL: RUNDLL32 needs a library and one of its entry points:\n  RUNDLL32 library,entry [arguments]";
  const std::string long_name(10000, 'A');
  struct Case {
    std::vector<std::string> args;
    int exit_code;
    std::string box;
    std::vector<std::string> log;
  };
  const Case cases[] = {
      {{"nolib,RecordCall"}, 2, "RunDLL: Cannot load the library \"nolib\": it was not found.", {}},
      {{"modtest,recordcall"},
       2,
       "RunDLL: The library \"modtest\" has no entry point \"recordcall\".",
       Lines(kLoaded, kUnloaded)},
      {{"modtest,Greeting"},
       2,
       "RunDLL: The library \"modtest\" has no entry point \"Greeting\".",
       Lines(kLoaded, kUnloaded)},
      {{long_name + ",RecordCall"},
       2,
       "RunDLL: Cannot load the library \"" + long_name.substr(0, 80) + "...\": the name is too long.",
       {}},
      {{"modtest"}, 1, usage, {}},
      {{}, 1, usage, {}},
      {{long_name}, 1, usage, {}},
      {{",RecordCall"}, 1, usage, {}},
      {{"modtest,", "x"}, 1, usage, {}},
      {{"mod test,RecordCall"}, 1, usage, {}},  // arrives quoted: a library name holds no quotes or blanks
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.empty() ? "(empty)" : c.args[0].substr(0, 40));
    RunResult run = RunDll32(c.args);
    EXPECT_EQ(run.exit_code, c.exit_code);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(Boxes(), std::vector<std::string>{c.box});
    EXPECT_EQ(Log(), c.log);
  }
}

TEST_F(RunDll32Test, AnExceptionFromTheEntryIsNamedOnStderr) {
  RunResult run = RunDll32({"modtest,ThrowBadAlloc", "arguments"});
  EXPECT_EQ(run.exit_code, 3);
  EXPECT_EQ(run.err, "rundll32: modtest,ThrowBadAlloc: std::bad_alloc\n");
  EXPECT_TRUE(Boxes().empty());
  // The library stays loaded; the end of the process detaches it before its static objects go.
  EXPECT_EQ(Log(), Lines(kLoaded, {"detach at exit", "destroy"}));
}

}  // namespace
