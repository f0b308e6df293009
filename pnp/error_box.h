// The library's only way of reporting: a message box with one OK button and the error icon.
#ifndef K4471PNP_ERROR_BOX_H
#define K4471PNP_ERROR_BOX_H

#include <windows.h>

// Text and caption are strings of the library's table; a missing id shows as empty text.
void ErrorBox(HWND owner, UINT text_id, UINT caption_id);

#endif
