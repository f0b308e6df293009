#include <windows.h>

#include "temp_machine.h"

#include <gtest/gtest.h>

using testing_support::TempMachine;

namespace {

TEST(CodePage, LeadBytesOnlyUnder932) {
  struct Case {
    BYTE c;
    BOOL lead932;
  } cases[] = {{0x00, FALSE}, {0x5C, FALSE}, {0x80, FALSE}, {0x81, TRUE}, {0x9F, TRUE},
               {0xA0, FALSE}, {0xDF, FALSE}, {0xE0, TRUE},  {0xFC, TRUE}, {0xFD, FALSE}};
  for (unsigned codepage : {1252u, 932u}) {
    TempMachine machine(winsim::WindowsFlavour::Win98, codepage);
    EXPECT_EQ(GetACP(), codepage);
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << "code page " << codepage << ", byte 0x" << std::hex << int{c.c});
      EXPECT_EQ(IsDBCSLeadByte(c.c), codepage == 932 ? c.lead932 : FALSE);
    }
  }
}

TEST(CodePage, CharNextAndCharPrevStepByCharacter) {
  // 0x83 0x5C is one character under 932 (its trail byte is a backslash), two under 1252.
  static const char text[] = "a\x83\x5C\x81";
  struct Case {
    unsigned codepage;
    int from;
    int next;  // CharNextA(text + from) - text
    int prev;  // CharPrevA(text, text + from) - text
  } cases[] = {
      {932, 0, 1, 0},  {932, 1, 3, 0},  {932, 3, 4, 1},  // a lead byte before NUL steps 1
      {932, 4, 4, 3},                                    // never past the terminator
      {1252, 1, 2, 0}, {1252, 2, 3, 1}, {1252, 3, 4, 2}, {1252, 4, 4, 3},
  };
  for (const Case& c : cases) {
    TempMachine machine(winsim::WindowsFlavour::Win98, c.codepage);
    SCOPED_TRACE(testing::Message() << "code page " << c.codepage << " from " << c.from);
    EXPECT_EQ(CharNextA(text + c.from) - text, c.next);
    EXPECT_EQ(CharPrevA(text, text + c.from) - text, c.prev);
  }
  EXPECT_EQ(CharPrevA(text, text), text);
}

}  // namespace
