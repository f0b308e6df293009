// The runtime's strncmp, as programs of the machine reach it (through the name strncmp), against the
// C library's rules: the sign of the first differing byte taken as unsigned, nothing past a NUL or n.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

int Sign(int v) { return (v > 0) - (v < 0); }

TEST(RuntimeStrncmp, ComparesAsTheCLibrarySays) {
  // Through a pointer, so that the compiler cannot work the answer out itself.
  int (*volatile compare)(const char*, const char*, size_t) = &strncmp;
  struct Case {
    std::string a, b;
    size_t n;
    int sign;
  } cases[] = {
      {"[K5583.DRV]", "[K5583.DRV]", 9, 0},
      {"[K5583.DRX", "[K5583.DRV]", 9, 0},
      {"[K5583.DRX", "[K5583.DRV]", 10, 1},
      {"HKR,,Entry", "[K5583.DRV]", 9, -1},
      {"[k5583.drv]", "[K5583.DRV]", 9, 1},
      {"[K55", "[K5583.DRV]", 9, -1},
      {std::string("ab\0x", 4), std::string("ab\0y", 4), 4, 0},
      {"\x80", "\x7f", 1, 1},
      {"anything", "else", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.a + " / " + c.b + " / " + std::to_string(c.n));
    EXPECT_EQ(Sign(compare(c.a.c_str(), c.b.c_str(), c.n)), c.sign);
  }
}

}  // namespace
