#include "command_line.h"

BOOL ParseUninstallerCommandLine(LPSTR tail, char* selector, LPSTR* chained) {
  LPSTR p = tail;
  while (*p == ' ') p = CharNextA(p);
  if (*p != '/') return FALSE;
  p = CharNextA(p);
  if (*p == 'f' || *p == 'F') {
    p = CharNextA(p);
    *selector = *p;
    // At the terminator CharNextA stays put, so the chained command is then empty.
    *chained = CharNextA(p);
  }
  return TRUE;
}
