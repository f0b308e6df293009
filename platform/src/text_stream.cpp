#include "text_stream.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace winsim {

TextStream::Piece TextStream::ReadLine(char* out, size_t room) {
  size_t done = 0;
  while (done < room) {
    const size_t want = room - done;
    // A piece is decided by `want` raw bytes and the one after them, which may be a CR's LF.
    if (end_ - pos_ <= want && !at_end_) Refill();
    const unsigned char* p = buffer_ + pos_;
    const size_t avail = end_ - pos_;
    const size_t window = std::min(avail, want + 1);
    if (const void* lf = std::memchr(p, '\n', window)) {
      const size_t before = static_cast<size_t>(static_cast<const unsigned char*>(lf) - p);
      if (text_ && before > 0 && p[before - 1] == '\r') {
        std::memcpy(out + done, p, before - 1);
        out[done + before - 1] = '\n';
        pos_ += before + 1;
        return {done + before, false};
      }
      const size_t take = std::min(before + 1, want);  // with its LF when that fits
      std::memcpy(out + done, p, take);
      pos_ += take;
      return {done + take, false};
    }
    if (window > want) {  // a whole piece; a CR at its end has no LF after it
      std::memcpy(out + done, p, want);
      pos_ += want;
      return {room, false};
    }
    // No LF in what there is: the rest of the file, or all that the buffer holds.
    size_t take = avail;
    if (text_ && !at_end_ && take > 0 && p[take - 1] == '\r') --take;  // its LF may come with the next read
    std::memcpy(out + done, p, take);
    pos_ += take;
    done += take;
    if (at_end_ && pos_ == end_) return {done, true};
  }
  return {done, false};
}

size_t TextStream::Read(char* out, size_t size) {
  size_t done = 0;
  while (done < size) {
    const Piece piece = ReadLine(out + done, size - done);
    done += piece.size;
    if (piece.ran_out) break;
  }
  return done;
}

bool TextStream::Refill() {
  if (pos_ > 0) {
    std::memmove(buffer_, buffer_ + pos_, end_ - pos_);
    end_ -= pos_;
    pos_ = 0;
  }
  if (at_end_ || end_ == sizeof buffer_) return false;
  ssize_t n;
  do n = ::read(fd_, buffer_ + end_, sizeof buffer_ - end_);
  while (n < 0 && errno == EINTR);
  if (n <= 0) {
    failed_ = n < 0;
    at_end_ = true;
    return false;
  }
  size_t got = static_cast<size_t>(n);
  // Nothing after a Ctrl-Z is ever seen, so reading stops there.
  if (const void* ctrl_z = text_ ? std::memchr(buffer_ + end_, 0x1A, got) : nullptr) {
    got = static_cast<size_t>(static_cast<const unsigned char*>(ctrl_z) - (buffer_ + end_));
    at_end_ = true;
  }
  end_ += got;
  return got > 0;
}

}  // namespace winsim
