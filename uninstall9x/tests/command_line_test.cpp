// The uninstallers' command line, from the process command line through the start-up's command
// tail to the parse, in both code pages.
#include "command_line.h"

#include <gtest/gtest.h>
#include <winsim/startup.h>

#include <string>

#include "temp_machine.h"

namespace {

using testing_support::TempMachine;

struct Case {
  const char* name;
  unsigned codepage;
  std::string command_line;
  bool acted;           // the tail began with a slash
  char selector;        // '?' stands for "left at its start value"
  const char* chained;  // null: no chained command
};

const Case kCases[] = {
    {"plain", 1252, "w9xpurge.exe /f2 SETUP.EXE", true, '2', " SETUP.EXE"},
    {"no blank after selector", 1252, "w9xpurge.exe /f2SETUP.EXE", true, '2', "SETUP.EXE"},
    {"blanks before slash", 1252, "w9xpurge.exe    /f3 A.EXE", true, '3', " A.EXE"},
    {"upper case F", 1252, "w9xpurge.exe /F4", true, '4', ""},
    {"missing selector", 1252, "w9xpurge.exe /f", true, '\0', ""},
    {"selector outside 1 to 4", 1252, "w9xpurge.exe /f9 RUN.EXE", true, '9', " RUN.EXE"},
    {"slash then another letter", 1252, "w9xpurge.exe /x2 RUN.EXE", true, '?', nullptr},
    {"no slash", 1252, "w9xpurge.exe f2 RUN.EXE", false, '?', nullptr},
    {"dash instead of slash", 1252, "w9xpurge.exe -f2", false, '?', nullptr},
    {"empty tail", 1252, "w9xpurge.exe", false, '?', nullptr},
    {"a tab after the selector is kept", 1252, "w9xpurge.exe /f1\tX", true, '1', "\tX"},
    {"quoted program path with blanks", 1252, "\"C:\\Program Files\\Kit\\w9xpurge.exe\" /f2 NEXT.EXE", true, '2',
     " NEXT.EXE"},
    {"tabs after the program name", 1252, "w9xpurge.exe\t\t/f1 NEXT.EXE", true, '1', " NEXT.EXE"},
    {"control bytes after the program name", 1252, "w9xpurge.exe\x01\x1f /f1", true, '1', ""},
    {"high bytes belong to the name", 1252, "w9x\xe9purge.exe /f3", true, '3', ""},
    // In code page 932 a double-byte character is one step: the chained command starts after it.
    {"double-byte selector", 932,
     "w9xpurge.exe /f\x83\x5c"
     "ABC",
     true, '\x83', "ABC"},
    {"double-byte chained command", 932, "w9xpurge.exe /f2\x83\x5c", true, '2', "\x83\x5c"},
    {"quoted name with a backslash trail byte", 932, "\"C:\\\x83\x5c\\w9x.exe\" /f4 GO", true, '4', " GO"},
    {"same bytes in 1252 are two characters", 1252,
     "w9xpurge.exe /f\x83\x5c"
     "ABC",
     true, '\x83',
     "\x5c"
     "ABC"},
};

TEST(UninstallerCommandLine, ParsesTheTailAsTheStartUpHandsItOver) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    TempMachine machine(winsim::WindowsFlavour::Win98, c.codepage);
    std::string line = c.command_line;
    LPSTR tail = winsim::CommandTail(line.data());
    char selector = '?';
    LPSTR chained = nullptr;
    EXPECT_EQ(ParseUninstallerCommandLine(tail, &selector, &chained), c.acted ? TRUE : FALSE);
    EXPECT_EQ(selector, c.selector);
    if (!c.chained) {
      EXPECT_EQ(chained, nullptr);
    } else {
      ASSERT_NE(chained, nullptr);
      EXPECT_EQ(std::string(chained), c.chained);
      // The chained command is a position inside the tail, never a copy.
      EXPECT_GE(chained, tail);
      EXPECT_LE(chained, line.data() + line.size());
    }
  }
}

}  // namespace
