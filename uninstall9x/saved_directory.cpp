#include "saved_directory.h"

SavedDirectory::SavedDirectory() {
  DWORD length = GetCurrentDirectoryA(sizeof path_, path_);
  saved_ = length != 0 && length < sizeof path_;
}

SavedDirectory::~SavedDirectory() {
  if (saved_) SetCurrentDirectoryA(path_);
}
