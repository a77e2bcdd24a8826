// Runs a program with an argument vector and an empty environment, captures its standard output
// and error into the caller's buffer under a total time limit, and reaps it.
#pragma once

#include <cstdint>

class StopEvent;

// Returns the number of characters stored (at most outputSize - 1, always NUL-terminated), -1 when
// a pipe cannot be created, 0 when the child cannot be forked. Reading ends when the child's output
// ends (every writer has closed it), when the buffer is full or at the total limit; a child still
// running at the total limit is killed with its process group, and every child is reaped before
// the call returns. `idleLimitMs` is accepted and not applied: once the output has ended nothing
// more can arrive, so there is no quiet time left to limit.
// Once `stop` is signalled the call returns at once with what it has stored (child killed and
// reaped); when it is signalled already, nothing is started. A null `stop` never stops a call.
int32_t Zel_Exec(const char* path, char* const argv[], int32_t totalLimitMs, int32_t idleLimitMs,
                 char* output, int32_t outputSize, const StopEvent* stop);

// The same, stopped by the event SIGINT signals (InterruptStopEvent), if one is installed.
int32_t Zel_Exec(const char* path, char* const argv[], int32_t totalLimitMs, int32_t idleLimitMs,
                 char* output, int32_t outputSize);
