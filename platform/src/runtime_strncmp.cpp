// The runtime's own strncmp, which programs and libraries of the machine are linked with in place of
// the host's (ld --wrap=strncmp). Programs compare a few bytes at a time, mostly differing in the
// first (a line against a section header): a plain loop that stops at the first difference does that
// in a fraction of the set-up of the host's vector version.
#include <cstddef>

extern "C" int __wrap_strncmp(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x != y) return x < y ? -1 : 1;
    if (x == '\0') return 0;
  }
  return 0;
}
