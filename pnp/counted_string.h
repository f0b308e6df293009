// The library's text type: NUL-terminated bytes of the machine's ANSI code page, with the length
// kept beside them. Storage comes from the process heap. When the heap refuses, the operation
// throws std::bad_alloc, and nothing in the library catches it: the exception leaves the export
// after every local object has been destroyed.
#ifndef K4471PNP_COUNTED_STRING_H
#define K4471PNP_COUNTED_STRING_H

#include <windows.h>

class CountedString {
 public:
  CountedString() noexcept;
  // A null pointer reads as empty text, here and wherever text is taken.
  CountedString(const char* text);
  CountedString(const CountedString& other);
  CountedString& operator=(const CountedString& other);
  CountedString& operator=(const char* text);
  ~CountedString();

  // Replaces the content with string `id` of the module named by the module state's resource
  // handle; a missing entry gives empty text. True when the result is not empty.
  bool Load(UINT id);

  int GetLength() const { return length_; }
  bool IsEmpty() const { return length_ == 0; }
  operator const char*() const { return data_; }

  // Byte index of the first `ch`, stepping over double-byte characters whole; -1 when absent.
  int Find(char ch) const;
  // The first / last n bytes; n is clamped to 0..length.
  CountedString Left(int n) const;
  CountedString Right(int n) const;

  // The current text in a writable buffer with room for `min_length` bytes and a terminator.
  char* GetBuffer(int min_length);
  // Ends writing into the buffer: the text is `new_length` bytes long, or up to its first NUL when -1.
  void ReleaseBuffer(int new_length = -1);

  friend CountedString operator+(const CountedString& left, const char* right);

 private:
  void Assign(const char* text, int length);
  // Takes `block`, with room for `capacity` bytes and a terminator, in place of the current buffer.
  void Adopt(char* block, int capacity) noexcept;

  char* data_;
  int length_ = 0;
  int capacity_ = 0;  // 0: data_ is the shared empty text, owned by nobody
};

#endif
