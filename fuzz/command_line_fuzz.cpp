// The start-up's command tail and the uninstallers' parse, over arbitrary command lines.
#include <cstdint>
#include <cstdio>
#include <string>

#include <winsim/startup.h>

#include "command_line.h"
#include "fuzz_machine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzMachine();
  std::string line(reinterpret_cast<const char*>(data), size);
  line = line.substr(0, line.find('\0'));
  char* begin = line.data();
  char* end = begin + line.size();

  LPSTR tail = winsim::CommandTail(begin);
  FUZZ_CHECK(tail >= begin && tail <= end);
  FUZZ_CHECK(tail == begin || static_cast<unsigned char>(tail[-1]) <= 0x20 || tail[-1] == '"' ||
             static_cast<unsigned char>(*tail) > 0x20 || *tail == '\0');

  char selector = '?';
  LPSTR chained = nullptr;
  BOOL acted = ParseUninstallerCommandLine(tail, &selector, &chained);
  const char* first = tail;
  while (*first == ' ') ++first;
  FUZZ_CHECK(acted == (*first == '/'));
  if (chained) {
    // The chained command always lies inside the tail, after the selector.
    FUZZ_CHECK(acted);
    FUZZ_CHECK(chained > tail && chained <= end);
    FUZZ_CHECK(chained[-1] == selector || chained == end || chained[-2] == selector);
  } else {
    FUZZ_CHECK(selector == '?');
  }
  return 0;
}
