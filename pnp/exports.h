// The library's entry points; K4471PNP.def gives their exported names and ordinals.
#ifndef K4471PNP_EXPORTS_H
#define K4471PNP_EXPORTS_H

#include <windows.h>

extern "C" {

// Removes the printer's device node; exported only under its decorated name.
void CleanPnpKeys(void);

// The phases take the RunDLL32 entry form: `lpszCmdLine` is the installer command line
// (device node path, a blank, installation directory); `hwnd` owns their error boxes.
void CALLBACK SchedulePrinterInstallation(HWND hwnd, HINSTANCE hinst, LPSTR lpszCmdLine, int nCmdShow);
void CALLBACK StartPrinterInstallation(HWND hwnd, HINSTANCE hinst, LPSTR lpszCmdLine, int nCmdShow);
// Does nothing; its arguments are never read.
void CALLBACK CompletePrinterInstallation(HWND hwnd, HINSTANCE hinst, LPSTR lpszCmdLine, int nCmdShow);

// Uninstall hooks; their arguments are never read and both return 0.
LONG WINAPI UninstInitialize(DWORD dwFirst, DWORD dwSecond, DWORD dwThird);
LONG WINAPI UninstUnInitialize(DWORD dwFirst, DWORD dwSecond, DWORD dwThird);
}

#endif
