// The one-copy rule: an exclusive lock on a file beside the GPS socket, held for the whole run, so
// a second copy started by hand changes nothing of the running daemon's files or socket.
#pragma once

#include "base/scoped_handles.h"

enum class LockResult {
  kHeld,         // this process holds the lock now
  kTaken,        // another process holds it
  kNoFolder,     // the folder is missing: no daemon can be running there
  kLinked,       // the lock path is a hard link (a file with another name): left untouched
  kUnavailable,  // the lock file cannot be opened or locked (errno set)
};

class InstanceLock {
 public:
  InstanceLock() : fd_(-1) {}
  // Opens (creates, mode 0600, never through a symbolic link) and locks `path` without waiting.
  // A file that is not regular or has more than one name is refused before anything is written to
  // it. When held the file receives this process's pid; when taken, *holder receives the holder's
  // pid read from the file (0 when it cannot be read).
  LockResult Take(const char* path, long* holder);

 private:
  ScopedFd fd_;
};
