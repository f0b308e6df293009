// A file of the runtime read as Windows text mode reads it: CR LF comes out as LF and a Ctrl-Z
// (0x1A) ends the file; in binary mode the bytes come out as they are.
//
// The raw bytes are read a large buffer at a time and decoded while they are handed out, so each
// piece is copied once, from the buffer straight into the reader's. Within a line the only CR LF is
// the one that ends it, so a piece is decoded by looking at the byte before its LF.
#ifndef WINSIM_TEXT_STREAM_H
#define WINSIM_TEXT_STREAM_H

#include <cstddef>

namespace winsim {

class TextStream {
 public:
  // Reads `fd`; the caller keeps it open while the stream is read, and closes it.
  TextStream(int fd, bool text) : fd_(fd), text_(text) {}
  TextStream(const TextStream&) = delete;
  TextStream& operator=(const TextStream&) = delete;

  struct Piece {
    size_t size;   // bytes copied, not terminated
    bool ran_out;  // the piece ended because the file did (no LF, room left)
  };
  // What fgets hands out: at most `room` bytes, up to and including the first LF.
  Piece ReadLine(char* out, size_t room);
  // Up to `size` bytes of text; fewer only at the end of the file.
  size_t Read(char* out, size_t size);
  // A read of the file failed; the stream gives nothing more.
  bool Failed() const { return failed_; }

 private:
  // Keeps the bytes not handed out yet and reads more behind them; false when none came.
  bool Refill();

  int fd_;
  bool text_;
  size_t pos_ = 0, end_ = 0;
  bool at_end_ = false;  // no byte will come after end_: the file's end, a Ctrl-Z, or a failed read
  bool failed_ = false;
  // Large reads: a file is mostly read whole, piece by piece.
  unsigned char buffer_[64 * 1024];
};

}  // namespace winsim

#endif
