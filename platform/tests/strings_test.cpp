#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(lstrcmpA, OrdersAsWindowsWordSortDoesForAscii) {
  struct Case {
    const char* a;
    const char* b;
    int result;
  } cases[] = {
      {"abc", "abc", 0}, {"abc", "abd", -1},    {"a", "B", -1},   {"B", "a", 1},  // letters without regard to case
      {"a", "A", -1},    {"A", "a", 1},         {"Ab", "aC", -1},                 // case only breaks ties
      {"ab", "abc", -1}, {"", "a", -1},         {"1", "A", -1},   {nullptr, "a", -1},
      {"a", nullptr, 1}, {nullptr, nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.a ? c.a : "NULL") << " vs " << (c.b ? c.b : "NULL"));
    EXPECT_EQ(lstrcmpA(c.a, c.b), c.result);
  }
}

TEST(lstrcpyA, CopiesConcatenatesAndTakesNullWithoutFaulting) {
  char buffer[16];
  std::memset(buffer, 0x5A, sizeof buffer);
  EXPECT_EQ(lstrcpyA(buffer, "OEM"), buffer);
  EXPECT_EQ(lstrcatA(buffer, "12"), buffer);
  EXPECT_EQ(lstrcatA(buffer, ".INF"), buffer);
  EXPECT_STREQ(buffer, "OEM12.INF");
  EXPECT_EQ(buffer[10], 0x5A);
  EXPECT_EQ(lstrlenA(buffer), 9);
  EXPECT_EQ(lstrlenA(nullptr), 0);
  EXPECT_EQ(lstrcpyA(nullptr, "x"), nullptr);
  EXPECT_EQ(lstrcpyA(buffer, nullptr), nullptr);
  EXPECT_EQ(lstrcatA(nullptr, "x"), nullptr);
  EXPECT_STREQ(buffer, "OEM12.INF");
}

}  // namespace
