// The caption of the shell's desktop window, and the object that loads it at the start of a phase.
#ifndef K4471PNP_SHELL_CAPTION_H
#define K4471PNP_SHELL_CAPTION_H

#include "counted_string.h"

// Empty until a phase creates its ShellCaptionLoader; written only while a phase holds the install lock.
extern CountedString ShellCaption;

class ShellCaptionLoader {
 public:
  ShellCaptionLoader();

  // Runs `export_call` through RunDLL32 at once when the shell runs, else (or when that start
  // fails) stores it as the Run value `value_name`; with `add` zero, removes that Run value
  // instead. 1 on success, 0 on failure, a value that could not be stored included.
  int ScheduleDeferredCommand(const char* value_name, const char* export_call, int add);
};

#endif
