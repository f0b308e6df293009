// The library's counted string over arbitrary text: the search for a character, which never stops
// on the trail byte of a double-byte character, and the left and right parts the split takes.
#include <cstdint>
#include <string>

#include "counted_string.h"
#include "fuzz_machine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzMachine();
  if (size < 2) return 0;
  const char wanted = static_cast<char>(data[0]);
  const int cut = static_cast<int8_t>(data[1]);
  std::string text(reinterpret_cast<const char*>(data) + 2, size - 2);
  text = text.substr(0, text.find('\0'));
  const int length = static_cast<int>(text.size());

  int expected = -1;
  for (size_t start : CharacterStarts(text)) {
    if (text[start] == wanted) {
      expected = static_cast<int>(start);
      break;
    }
  }
  const CountedString s(text.c_str());
  FUZZ_CHECK(s.GetLength() == length);
  FUZZ_CHECK(s.Find(wanted) == expected);

  const int clamped = cut < 0 ? 0 : (cut > length ? length : cut);
  const CountedString left = s.Left(cut), right = s.Right(cut);
  FUZZ_CHECK(std::string(left) == text.substr(0, static_cast<size_t>(clamped)));
  FUZZ_CHECK(left.GetLength() == clamped);
  FUZZ_CHECK(std::string(right) == text.substr(static_cast<size_t>(length - clamped)));
  FUZZ_CHECK(right.GetLength() == clamped);
  FUZZ_CHECK(std::string(s.Left(cut) + static_cast<const char*>(s.Right(length - clamped))) == text);
  return 0;
}
