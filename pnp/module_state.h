// The library's module state: the module that every string-table load of the library reads.
#ifndef K4471PNP_MODULE_STATE_H
#define K4471PNP_MODULE_STATE_H

#include <windows.h>

// Null until the entry routine names the library's own instance on process attach.
HINSTANCE ModuleResourceHandle();
void SetModuleResourceHandle(HINSTANCE instance);

#endif
