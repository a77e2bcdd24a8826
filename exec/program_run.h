// Runs a program with an argument vector under explicit limits, captures its standard output and
// error into the caller's buffer, and says how the run ended: the one way the daemon starts a
// process.
#pragma once

#include <cstddef>
#include <cstdint>

class StopEvent;

// What to run and within which limits.
struct ProgramRun {
  const char* path;            // the program's file, run as given (no PATH search)
  char* const* argv;           // argv[0] first, ending with nullptr
  int32_t totalLimitMs;        // the whole run, from the start to the reaping of the child
  const StopEvent* stop;       // ends the run at once when signalled; nullptr: never
  char* const* environment = nullptr;  // nullptr: an empty environment
};

enum class RunEnd {
  kNotStarted,  // no pipe, no process, or the program could not be executed
  kTimedOut,    // still running, or its output still held open, at the total limit
  kStopped,     // the stop event ended the run, or was signalled before it started
  kExited,      // the program ended by itself; `status` says how
};

struct ProgramOutcome {
  RunEnd end = RunEnd::kNotStarted;
  int status = -1;          // kExited: the exit status, or 128 + the signal that ended it; else -1
  int32_t length = 0;       // characters stored (NULs inside the output included)
  bool truncated = false;   // the buffer filled up; what followed, if anything, was not read
};

// Stores at most size - 1 characters of the output and a terminator (nothing at all when size is
// 0 or 1). Reading ends when the output ends (every writer has closed it), when the buffer is
// full, at the total limit or when `stop` is signalled. A program still running then, or whose
// output is still held open by processes it started, is killed with its process group; the child
// is always reaped before the call returns. The child starts with default signal handling, an
// empty signal mask and only the standard descriptors. A program that cannot be executed is
// reported on standard error and stores nothing. No heap allocation.
ProgramOutcome RunProgram(const ProgramRun& run, char* output, size_t size);
