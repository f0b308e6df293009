#include <winsim/startup.h>

#include "temp_machine.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using testing_support::TempMachine;

struct TailCase {
  unsigned codepage;
  std::string line;
  std::string tail;
};

const TailCase kTailCases[] = {
    {1252, "w9xpurge.exe /f2 SETUP.EXE", "/f2 SETUP.EXE"},
    {1252, "\"C:\\Program Files\\w9xpurge.exe\" /f2", "/f2"},
    {1252, "\"C:\\Program Files\\w9xpurge.exe\"/f2", "/f2"},
    {1252, "\"C:\\No Closing Quote /f2", ""},
    {1252, "\"\" /f2", "/f2"},
    {1252, "w9xpurge.exe\t\t/f2", "/f2"},
    {1252, "w9xpurge.exe \x01\x1f\t\x20/f2", "/f2"},
    {1252, "w9xpurge.exe\x7f/f2 x", "x"},
    {1252, "C:\\Pro\xe9gram\x81\xff.exe /f2", "/f2"},
    {1252, "w9xpurge.exe /f2  SETUP.EXE  ", "/f2  SETUP.EXE  "},
    {1252, "  /f2", "/f2"},
    {1252, "w9xpurge.exe", ""},
    {1252, "w9xpurge.exe   ", ""},
    {1252, "", ""},
    // 0x81 is a plain character in 1252: the first quote after it closes the name.
    {1252, "\"A\x81\" B\" /f2", "B\" /f2"},
    // ...and a lead byte in 932, which takes the quote along as its trail byte.
    {932, "\"A\x81\" B\" /f2", "/f2"},
    // A lead byte before the terminator does not take the terminator along.
    {932, "\"A\x81", ""},
};

TEST(CommandTail, SkipsTheProgramNameAndTheBlanksAfterIt) {
  for (unsigned codepage : {1252u, 932u}) {
    TempMachine machine(winsim::WindowsFlavour::Win98, codepage);
    for (const TailCase& c : kTailCases) {
      if (c.codepage != codepage) continue;
      SCOPED_TRACE("code page " + std::to_string(codepage) + ", line \"" + c.line + "\"");
      std::string line = c.line;
      LPSTR tail = winsim::CommandTail(line.data());
      // The tail is the end of the line itself, in place.
      EXPECT_EQ(tail - line.data(), static_cast<std::ptrdiff_t>(c.line.size() - c.tail.size()));
      EXPECT_EQ(std::string(tail), c.tail);
    }
  }
}

}  // namespace
