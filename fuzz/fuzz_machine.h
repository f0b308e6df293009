// One machine for a whole fuzzing run, in the code page that WINSIM_FUZZ_CODEPAGE names (1252 or 932).
#ifndef FUZZ_MACHINE_H
#define FUZZ_MACHINE_H

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "temp_machine.h"

inline unsigned FuzzCodePage() {
  const char* env = std::getenv("WINSIM_FUZZ_CODEPAGE");
  return env && std::string(env) == "932" ? 932 : 1252;
}

inline testing_support::TempMachine& FuzzMachine() {
  static testing_support::TempMachine* machine =
      new testing_support::TempMachine(winsim::WindowsFlavour::Win98, FuzzCodePage());
  return *machine;
}

// Where the characters of `text` begin in the fuzzing code page, worked out from the code page's
// lead byte ranges alone: a lead byte takes the next byte with it, unless the text ends there.
inline std::vector<size_t> CharacterStarts(std::string_view text) {
  auto lead = [](unsigned char c) {
    return FuzzCodePage() == 932 && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC));
  };
  std::vector<size_t> starts;
  for (size_t i = 0; i < text.size(); i += lead(static_cast<unsigned char>(text[i])) && i + 1 < text.size() ? 2 : 1)
    starts.push_back(i);
  return starts;
}

#define FUZZ_CHECK(condition)                                                                \
  do {                                                                                       \
    if (!(condition)) {                                                                      \
      std::fprintf(stderr, "property failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
      std::abort();                                                                          \
    }                                                                                        \
  } while (0)

#endif
