// One machine for a whole fuzzing run, in the code page that WINSIM_FUZZ_CODEPAGE names (1252 or 932).
#ifndef FUZZ_MACHINE_H
#define FUZZ_MACHINE_H

#include <cstdlib>
#include <string>

#include "temp_machine.h"

inline testing_support::TempMachine& FuzzMachine() {
  static testing_support::TempMachine* machine = [] {
    const char* env = std::getenv("WINSIM_FUZZ_CODEPAGE");
    unsigned codepage = env && std::string(env) == "932" ? 932 : 1252;
    return new testing_support::TempMachine(winsim::WindowsFlavour::Win98, codepage);
  }();
  return *machine;
}

#define FUZZ_CHECK(condition)                                                                \
  do {                                                                                       \
    if (!(condition)) {                                                                      \
      std::fprintf(stderr, "property failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
      std::abort();                                                                          \
    }                                                                                        \
  } while (0)

#endif
