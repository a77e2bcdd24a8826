// Reading and writing small files through plain descriptors, without stdio's heap buffers.
#pragma once

#include <sys/types.h>

#include <cstddef>

// Reads at most `limit` bytes of the file at `path` into `buffer` and terminates them (the buffer
// holds `limit` + 1 bytes). Returns the count read, or -1 when the file cannot be opened.
long ReadFileInto(const char* path, char* buffer, size_t limit);

// Opens `path` for reading only when it is a regular file with one name, neither a symbolic nor a
// hard link (others may write the folder it is in); without blocking on a FIFO. The descriptor, or
// -1 with errno set (EMLINK for a file with more than one name).
int OpenRegularFile(const char* path);

// ReadFileInto for a file opened with OpenRegularFile: -1 when it is missing, a symbolic or hard
// link or no regular file.
long ReadRegularFileInto(const char* path, char* buffer, size_t limit);

// Writes all `length` bytes to `fd`, resuming after short writes and interrupted calls. True when
// every byte was written.
bool WriteAll(int fd, const char* text, size_t length);

// Hands out the lines of an open descriptor the way fgets does: at most `size` - 1 characters per
// call, the line feed kept, a longer line continued by the next call.
class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd) {}
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;
  // False at the end of the file (or on a read error) with nothing stored.
  bool Next(char* line, size_t size);

 private:
  int fd_;
  char buffer_[4096];
  size_t start_ = 0;
  size_t end_ = 0;
  bool ended_ = false;
};
