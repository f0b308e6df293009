// The OEM INF stage's reading of a file, over arbitrary bytes: text-mode pieces of at most 99 bytes
// read with fgets, and the section header match, each against a reading worked out here from the
// raw bytes alone.
#include <share.h>
#include <windows.h>

#include <winsim/handles.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_machine.h"
#include "oem_inf.h"

namespace {

constexpr char kHeader[] = "[K5583.DRV]";
constexpr size_t kHeaderCompareLength = 9;
// The stage's line buffer, terminator included.
constexpr size_t kLineBuffer = 100;
constexpr char kFile[] = "C:\\WINDOWS\\INF\\OEM7.INF";

// The bytes that text mode gives: everything before the first Ctrl-Z, less each CR that stands
// right before an LF.
std::string TextModeContent(std::string_view raw) {
  raw = raw.substr(0, raw.find('\x1A'));
  std::string text;
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    text += raw[i];
  }
  return text;
}

// Pieces as fgets hands them out of a 100-byte buffer: up to and including an LF, 99 bytes at most.
std::vector<std::string> Pieces(const std::string& text) {
  std::vector<std::string> pieces;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = start;
    while (end < text.size() && end - start < kLineBuffer - 1) {
      if (text[end++] == '\n') break;
    }
    pieces.push_back(text.substr(start, end - start));
    start = end;
  }
  return pieces;
}

// The header has no NUL among its first 9 bytes, so a piece matches only with 9 equal bytes.
bool StartsWithHeader(const std::string& piece) {
  return piece.size() >= kHeaderCompareLength &&
         piece.compare(0, kHeaderCompareLength, kHeader, kHeaderCompareLength) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  testing_support::TempMachine& machine = FuzzMachine();
  const std::string_view raw(reinterpret_cast<const char*>(data), size);
  machine.Write(kFile, raw);

  const std::vector<std::string> pieces = Pieces(TextModeContent(raw));
  bool expected_match = false;
  for (const std::string& piece : pieces) expected_match = expected_match || StartsWithHeader(piece);

  FILE* file = _fsopen(kFile, "r", _SH_DENYNO);
  FUZZ_CHECK(file != nullptr);
  // Room past the 100 bytes, filled with a pattern, shows a read that goes further.
  char line[kLineBuffer + 28];
  for (const std::string& expected : pieces) {
    std::memset(line, 0xAA, sizeof line);
    FUZZ_CHECK(fgets(line, kLineBuffer, file) == line);
    FUZZ_CHECK(std::memcmp(line, expected.data(), expected.size()) == 0);
    FUZZ_CHECK(line[expected.size()] == '\0');
    for (size_t i = expected.size() + 1; i < sizeof line; ++i) FUZZ_CHECK(line[i] == static_cast<char>(0xAA));
  }
  FUZZ_CHECK(fgets(line, kLineBuffer, file) == nullptr);
  fclose(file);

  file = _fsopen(kFile, "r", _SH_DENYNO);
  FUZZ_CHECK(file != nullptr);
  const bool match = HoldsDriverSection(file, kHeader) != FALSE;
  fclose(file);
  FUZZ_CHECK(match == expected_match);
  FUZZ_CHECK(winsim::OpenHandles().empty());
  return 0;
}
