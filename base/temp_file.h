// A temporary file created fresh beside the file it will replace, under a name nobody can guess
// or plant a link at first, and renamed over that file once written.
#pragma once

#include <cstddef>

#include "base/scoped_handles.h"

class TempFile {
 public:
  TempFile() : fd_(-1) {}
  // Removes a file that was created and not renamed.
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  // Creates "<target>.tmp-XXXXXX" (a random suffix; O_EXCL, O_NOFOLLOW, mode 0644 under the
  // umask). 1 on success; 0 with errno set.
  int Create(const char* target);
  // Writes all `length` bytes. 1 on success; 0 with errno set.
  int Write(const char* text, size_t length);
  // Closes the file and renames it over the target. 1 on success; 0 with errno set (the file is
  // removed then).
  int Commit();

  // The name of the last file tried (for messages).
  const char* path() const { return path_; }

 private:
  void Discard();

  ScopedFd fd_;
  char target_[256] = {};
  char path_[272] = {};
  bool created_ = false;
};
