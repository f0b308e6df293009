// The runtime's own fgets. Programs and libraries built for the machine are linked with it in place
// of the host's (ld --wrap=fgets): a stream of _fsopen is read straight from its decoded buffer, one
// copy per piece and no call into the host's stdio; any other FILE goes to the host's fgets, which
// is what fgets names inside this library.
//
// The stream stays a host FILE, so the host's stdio reads it too (fread, fgetc, ...): it is
// unbuffered there, and the two keep the end-of-file and error marks in the FILE's own flags.
#include <sys/single_threaded.h>

#include <cstdio>

#include "stream_table.h"

namespace {

// Bytes that the host's stdio holds for the stream (ungetc), or its end-of-file mark, which it
// keeps until clearerr: the host's fgets knows what to do with them.
bool HostHoldsState(FILE* file) { return file->_IO_read_ptr != file->_IO_read_end || (file->_flags & _IO_EOF_SEEN); }

char* ReadPiece(winsim::TextStream& stream, char* s, int size, FILE* file) {
  if (HostHoldsState(file)) return std::fgets(s, size, file);
  const winsim::TextStream::Piece piece = stream.ReadLine(s, static_cast<size_t>(size) - 1);
  if (stream.Failed()) {
    file->_flags |= _IO_ERR_SEEN;
    return nullptr;
  }
  if (piece.ran_out) file->_flags |= _IO_EOF_SEEN;
  if (piece.size == 0) return nullptr;
  s[piece.size] = '\0';
  return s;
}

}  // namespace

extern "C" char* __wrap_fgets(char* s, int size, FILE* file) {
  winsim::TextStream* stream = size > 1 && file ? winsim::ListedStream(file) : nullptr;
  if (!stream) return std::fgets(s, size, file);
  // One thread alone needs no lock, as the host's stdio reasons too.
  if (__libc_single_threaded) return ReadPiece(*stream, s, size, file);
  flockfile(file);
  char* result = ReadPiece(*stream, s, size, file);
  funlockfile(file);
  return result;
}
