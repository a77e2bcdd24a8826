// Owners that close a stdio file or a descriptor when they go out of scope.
#pragma once

#include <unistd.h>

#include <cstdio>

class ScopedFile {
 public:
  explicit ScopedFile(FILE* file) : file_(file) {}
  ~ScopedFile() {
    if (file_ != nullptr) fclose(file_);
  }
  ScopedFile(const ScopedFile&) = delete;
  ScopedFile& operator=(const ScopedFile&) = delete;
  FILE* get() const { return file_; }

 private:
  FILE* file_;
};

class ScopedFd {
 public:
  explicit ScopedFd(int fd) : fd_(fd) {}
  ~ScopedFd() {
    if (fd_ >= 0) close(fd_);
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  int get() const { return fd_; }
  // Takes `fd` in place of the one held, which is closed.
  void Reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }
  // Gives the descriptor up without closing it.
  void Release() { fd_ = -1; }
  // Closes now; the result of close(), 0 when nothing was held.
  int Close() {
    const int fd = fd_;
    fd_ = -1;
    return fd >= 0 ? close(fd) : 0;
  }

 private:
  int fd_;
};
