// Runs a program with an argument vector and an empty environment, captures its standard output
// and error into the caller's buffer under a total and an idle time limit, and reaps it.
#pragma once

#include <cstdint>

// Returns the number of characters stored (at most outputSize - 1, always NUL-terminated), -1 when
// a pipe cannot be created, 0 when the child cannot be forked. Reading ends when the child's output
// ends; a child still running at the total limit is killed with its process group, and every
// child is reaped before the call returns. Once stopRequested is set the call returns within about
// 100 ms with what it has stored (child killed); when it is set already, nothing is started.
int32_t Zel_Exec(const char* path, char* const argv[], int32_t totalLimitMs, int32_t idleLimitMs,
                 char* output, int32_t outputSize);
