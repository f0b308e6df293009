// The print spooler of the simulated machine.
#ifndef WINSIM_WINSPOOL_H
#define WINSIM_WINSPOOL_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

// Device modes are never read by the machine's spooler.
typedef struct _devicemodeA DEVMODEA, *PDEVMODEA, *LPDEVMODEA;

typedef struct _PRINTER_DEFAULTSA {
  LPSTR pDatatype;
  LPDEVMODEA pDevMode;
  ACCESS_MASK DesiredAccess;
} PRINTER_DEFAULTSA, *PPRINTER_DEFAULTSA, *LPPRINTER_DEFAULTSA;
typedef PRINTER_DEFAULTSA PRINTER_DEFAULTS;

#define PRINTER_ACCESS_ADMINISTER 0x00000004
#define PRINTER_ACCESS_USE 0x00000008
#define PRINTER_ALL_ACCESS (STANDARD_RIGHTS_REQUIRED | PRINTER_ACCESS_ADMINISTER | PRINTER_ACCESS_USE)

// Names without regard to ASCII case; ERROR_INVALID_PRINTER_NAME for a missing printer. Windows 98
// ignores the desired access; NT 4.0 grants what is asked (PRINTER_ACCESS_USE without defaults).
// A printer set up to need administration opens only with PRINTER_ACCESS_ADMINISTER asked for,
// else ERROR_ACCESS_DENIED. A failed open sets *phPrinter to null.
BOOL WINAPI OpenPrinterA(LPSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSA pDefault);
// NT 4.0 needs the DELETE right on the handle. The handle stays open until ClosePrinter.
BOOL WINAPI DeletePrinter(HANDLE hPrinter);
BOOL WINAPI ClosePrinter(HANDLE hPrinter);

#ifdef __cplusplus
}
#endif

#endif
