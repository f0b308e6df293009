// The lead bytes of the machine's ANSI code page: 932 is double-byte, 1252 single-byte.
#ifndef WINSIM_CODEPAGE_H
#define WINSIM_CODEPAGE_H

namespace winsim {

inline bool IsLeadByte(unsigned codepage, unsigned char c) {
  return codepage == 932 && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC));
}

}  // namespace winsim

#endif
