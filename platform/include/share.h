// The machine's C runtime: text files of drive C:, read in Windows text mode.
//
// _fsopen gives a standard FILE* whose reads follow Windows text mode: CR LF comes back as LF and
// a Ctrl-Z byte (0x1A) ends the file. Read it with fgets and close it with fclose as usual; until then
// the file is an open handle of the process and can't be deleted. There is no seeking.
#ifndef WINSIM_SHARE_H
#define WINSIM_SHARE_H

#include <stdio.h>

#define _SH_DENYRW 0x10
#define _SH_DENYWR 0x20
#define _SH_DENYRD 0x30
#define _SH_DENYNO 0x40

#ifdef __cplusplus
extern "C" {
#endif

// Opens a file by its Windows name (relative to the current directory) for reading; mode "r" or
// "rt" (text) and "rb" (binary) are accepted. Null with errno set when the file can't be opened.
FILE* _fsopen(const char* filename, const char* mode, int shflag);

#ifdef __cplusplus
}
#endif

#endif
