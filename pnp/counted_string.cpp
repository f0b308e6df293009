#include "counted_string.h"

#include "module_state.h"

#include <cstring>
#include <new>

namespace {

// Every empty string without a buffer of its own points here; nothing writes to it.
char g_empty[1] = {'\0'};

int TextLength(const char* text) { return text ? static_cast<int>(std::strlen(text)) : 0; }

int Clamp(int n, int length) { return n < 0 ? 0 : (n > length ? length : n); }

char* Allocate(int length) {
  void* block = HeapAlloc(GetProcessHeap(), 0, static_cast<SIZE_T>(length) + 1);
  if (!block) throw std::bad_alloc();
  return static_cast<char*>(block);
}

}  // namespace

CountedString::CountedString() noexcept : data_(g_empty) {}

CountedString::CountedString(const char* text) : CountedString() { Assign(text, TextLength(text)); }

CountedString::CountedString(const CountedString& other) : CountedString() { Assign(other.data_, other.length_); }

CountedString& CountedString::operator=(const CountedString& other) {
  if (this != &other) Assign(other.data_, other.length_);
  return *this;
}

CountedString& CountedString::operator=(const char* text) {
  Assign(text, TextLength(text));
  return *this;
}

CountedString::~CountedString() { Adopt(g_empty, 0); }

bool CountedString::Load(UINT id) {
  // LoadStringA cuts the text to the buffer; a text that filled it may have been cut, so grow.
  for (int room = 256;; room *= 2) {
    char* buffer = GetBuffer(room);
    const int loaded = LoadStringA(ModuleResourceHandle(), id, buffer, room + 1);
    if (loaded < room) {
      ReleaseBuffer(loaded > 0 ? loaded : 0);
      return length_ > 0;
    }
  }
}

int CountedString::Find(char ch) const {
  // A trail byte may equal `ch`; only a walk from the start knows where characters begin.
  for (int i = 0; i < length_;) {
    if (data_[i] == ch) return i;
    i += (IsDBCSLeadByte(static_cast<BYTE>(data_[i])) && data_[i + 1]) ? 2 : 1;
  }
  return -1;
}

CountedString CountedString::Left(int n) const {
  CountedString part;
  part.Assign(data_, Clamp(n, length_));
  return part;
}

CountedString CountedString::Right(int n) const {
  const int count = Clamp(n, length_);
  CountedString part;
  part.Assign(data_ + length_ - count, count);
  return part;
}

char* CountedString::GetBuffer(int min_length) {
  if (capacity_ == 0 || min_length > capacity_) {
    const int room = min_length > length_ ? min_length : length_;
    char* block = Allocate(room);
    std::memcpy(block, data_, static_cast<size_t>(length_) + 1);
    const int length = length_;
    Adopt(block, room);
    length_ = length;
  }
  return data_;
}

void CountedString::ReleaseBuffer(int new_length) {
  if (capacity_ == 0) return;
  if (new_length < 0) {
    const void* nul = std::memchr(data_, '\0', static_cast<size_t>(capacity_));
    new_length = nul ? static_cast<int>(static_cast<const char*>(nul) - data_) : capacity_;
  }
  length_ = Clamp(new_length, capacity_);
  data_[length_] = '\0';
}

CountedString operator+(const CountedString& left, const char* right) {
  const int right_length = TextLength(right);
  CountedString joined;
  if (left.length_ + right_length == 0) return joined;
  char* buffer = joined.GetBuffer(left.length_ + right_length);
  std::memcpy(buffer, left.data_, static_cast<size_t>(left.length_));
  std::memcpy(buffer + left.length_, right, static_cast<size_t>(right_length));
  joined.ReleaseBuffer(left.length_ + right_length);
  return joined;
}

void CountedString::Assign(const char* text, int length) {
  if (length > capacity_) {
    // `text` may lie in our own buffer: it is copied before that buffer goes.
    char* block = Allocate(length);
    std::memcpy(block, text, static_cast<size_t>(length));
    Adopt(block, length);
  } else if (length > 0) {
    std::memmove(data_, text, static_cast<size_t>(length));
  }
  length_ = length;
  if (capacity_ != 0) data_[length_] = '\0';
}

void CountedString::Adopt(char* block, int capacity) noexcept {
  if (capacity_ != 0) HeapFree(GetProcessHeap(), 0, data_);
  data_ = block;
  capacity_ = capacity;
  length_ = 0;
}
