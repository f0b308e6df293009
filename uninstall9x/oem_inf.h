// The OEM INF stage: OEM0.INF to OEM499.INF of the Windows inf directory.
#ifndef W9XPURGE_OEM_INF_H
#define W9XPURGE_OEM_INF_H

#include <stdio.h>
#include <windows.h>

// Deletes every OEM INF file that holds the K5583 driver section, and leaves the current
// directory as it found it.
void DeleteOemInfFiles(void);

// Reads a text file to its end in pieces of at most 99 characters and tells whether a piece
// begins with the first 9 characters of `header`.
BOOL HoldsDriverSection(FILE* file, LPCSTR header);

#endif
