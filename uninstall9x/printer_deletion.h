// Deleting a printer through the Windows 9x spooler.
#ifndef W9XPURGE_PRINTER_DELETION_H
#define W9XPURGE_PRINTER_DELETION_H

#include <windows.h>

// Opens the printer with the run's defaults record and deletes it. When that open is refused, the
// record is filled with "RAW" and the delete and administer rights and the open is tried once more;
// the record keeps those values for every later printer of the run.
void DeleteNamedPrinter(LPCSTR name, HANDLE* printer, PRINTER_DEFAULTSA* defaults);

#endif
