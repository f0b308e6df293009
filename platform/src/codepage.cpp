// The machine's ANSI code page: 1252 (single-byte) or 932 (double-byte, lead bytes 0x81-0x9F and 0xE0-0xFC).
#include <windows.h>

#include <winsim/call.h>
#include <winsim/codepage.h>
#include <winsim/machine.h>

namespace {

unsigned CodePage() { return winsim::HaveMachine() ? winsim::CurrentMachine().Settings().codepage : 1252; }

}  // namespace

extern "C" UINT WINAPI GetACP(void) { return CodePage(); }

extern "C" BOOL WINAPI IsDBCSLeadByte(BYTE c) { return winsim::IsLeadByte(CodePage(), c) ? TRUE : FALSE; }

extern "C" LPSTR WINAPI CharNextA(LPCSTR p) {
  winsim::Call call("CharNextA", p);
  if (!p || !*p) return call.Return(const_cast<LPSTR>(p));
  if (winsim::IsLeadByte(CodePage(), static_cast<BYTE>(*p)) && p[1]) return call.Return(const_cast<LPSTR>(p + 2));
  return call.Return(const_cast<LPSTR>(p + 1));
}

extern "C" LPSTR WINAPI CharPrevA(LPCSTR start, LPCSTR current) {
  winsim::Call call("CharPrevA", start, static_cast<const void*>(current));
  if (!start || !current || current <= start) return call.Return(const_cast<LPSTR>(start));
  // Walk from the start: a trail byte can look like a lead byte, so only a forward scan is sure.
  const unsigned codepage = CodePage();
  LPCSTR p = start;
  LPCSTR prev = start;
  while (p < current) {
    prev = p;
    p += (winsim::IsLeadByte(codepage, static_cast<BYTE>(*p)) && p[1]) ? 2 : 1;
  }
  return call.Return(const_cast<LPSTR>(prev));
}
