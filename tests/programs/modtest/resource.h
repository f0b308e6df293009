//{{NO_DEPENDENCIES}}
// Symbols of the test library's resources.
#define IDS_GREETING 1
#define IDS_QUOTED 2
#define IDS_DOUBLE_BYTE 3
#define IDI_MODTEST 101

#ifdef APSTUDIO_INVOKED
#ifndef APSTUDIO_READONLY_SYMBOLS
#define _APS_NEXT_RESOURCE_VALUE 102
#endif
#endif
