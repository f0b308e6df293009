#include "error_box.h"

#include "counted_string.h"

void ErrorBox(HWND owner, UINT text_id, UINT caption_id) {
  CountedString text;
  CountedString caption;
  text.Load(text_id);
  caption.Load(caption_id);
  MessageBoxA(owner, text, caption, MB_OK | MB_ICONERROR);
}
