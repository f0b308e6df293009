// The streams that _fsopen opened, found by their FILE: the runtime's own fgets reads them
// straight from their decoded buffer.
#ifndef WINSIM_STREAM_TABLE_H
#define WINSIM_STREAM_TABLE_H

#include <cstdio>

#include "text_stream.h"

namespace winsim {

// A stream that finds no free place is not listed, and is then read through the host's stdio.
void ListStream(FILE* file, TextStream* stream);
void UnlistStream(FILE* file);
// The listed stream of `file`, or null; one or a few loads, without a lock.
TextStream* ListedStream(FILE* file);

}  // namespace winsim

#endif
