// Reading the Influx backlog file back at start-up: only a file that no other user could have
// written, and only its newest part, in the memory the caller reserved.
#pragma once

#include <sys/types.h>

#include <cstddef>

// What ReadBacklogFile found.
struct BacklogFileText {
  long length;   // bytes read into the buffer; -1 when the file is missing or was refused
  off_t skipped;  // bytes at the start of a file longer than the buffer, left unread
};

// Reads at most `limit` bytes of the file at `path` into `buffer` (limit + 1 bytes, terminated).
// The file is taken up only when it is a regular file (no link), it and its folder belong to the
// process's effective user and neither is writable by group or others; otherwise it is not read
// and one message names the file and the reason. A longer file gives its last whole lines: the
// newest records.
BacklogFileText ReadBacklogFile(const char* path, char* buffer, size_t limit);
