#include "printable.h"

#include <algorithm>
#include <cstdio>

namespace winsim_tool {
namespace {

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7f; }

}  // namespace

std::string Printable(std::string_view text) {
  std::string out;
  for (unsigned char c : text) {
    if (IsControl(c)) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

bool HasControlBytes(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return IsControl(static_cast<unsigned char>(c)); });
}

}  // namespace winsim_tool
