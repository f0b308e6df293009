#include "shell_caption.h"

#include "resource.h"

CountedString ShellCaption;

ShellCaptionLoader::ShellCaptionLoader() { ShellCaption.Load(IDS_SHELL_CAPTION); }
