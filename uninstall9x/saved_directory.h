// The current directory of the process, saved on construction and made current again on destruction.
#ifndef W9XPURGE_SAVED_DIRECTORY_H
#define W9XPURGE_SAVED_DIRECTORY_H

#include <windows.h>

class SavedDirectory {
 public:
  SavedDirectory();
  ~SavedDirectory();
  SavedDirectory(const SavedDirectory&) = delete;
  SavedDirectory& operator=(const SavedDirectory&) = delete;

  // False when the directory could not be read or does not fit the buffer: then it could not be
  // made current again, and a stage that changes directory must not start.
  BOOL IsSaved() const { return saved_; }

 private:
  char path_[256];
  BOOL saved_;
};

#endif
