// String calls of the kernel. Like Windows, they take a null pointer without faulting.
#include <windows.h>

#include <winsim/call.h>

#include <cstring>

namespace {

int Sign(int v) { return (v > 0) - (v < 0); }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

extern "C" LPSTR WINAPI lstrcpyA(LPSTR to, LPCSTR from) {
  winsim::Call call("lstrcpyA", static_cast<const void*>(to), from);
  if (!to || !from) return call.Return(LPSTR{nullptr});
  std::memmove(to, from, std::strlen(from) + 1);
  return call.Return(to);
}

extern "C" LPSTR WINAPI lstrcatA(LPSTR to, LPCSTR from) {
  winsim::Call call("lstrcatA", to, from);
  if (!to || !from) return call.Return(LPSTR{nullptr});
  std::memmove(to + std::strlen(to), from, std::strlen(from) + 1);
  return call.Return(to);
}

extern "C" int WINAPI lstrlenA(LPCSTR text) {
  winsim::Call call("lstrlenA", text);
  return call.Return(text ? static_cast<int>(std::strlen(text)) : 0);
}

// Windows compares as its word sort does; for ASCII text that is: letters without regard to case,
// lower case first when that alone differs, and other bytes by value. A null string sorts first.
extern "C" int WINAPI lstrcmpA(LPCSTR a, LPCSTR b) {
  winsim::Call call("lstrcmpA", a, b);
  if (!a || !b) return call.Return(Sign((a != nullptr) - (b != nullptr)));
  int tie = 0;
  for (size_t i = 0;; ++i) {
    const unsigned char x = static_cast<unsigned char>(Lower(a[i])), y = static_cast<unsigned char>(Lower(b[i]));
    if (x != y) return call.Return(Sign(x - y));
    if (!x) break;
    if (!tie && a[i] != b[i]) tie = a[i] == x ? -1 : 1;
  }
  return call.Return(tie);
}
