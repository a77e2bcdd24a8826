// Logging to the console and syslog with suppression of an immediate repeat, and the post state
// file that tells other programs how the last Influx post went.
#pragma once

#include <cstdint>

#if defined(__GNUC__)
#define MS_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define MS_PRINTF(fmt, args)
#endif

// Message to standard output and syslog (notice), unless it equals the last logged message.
void LogMessage(const char* message);
// Message to standard error and syslog (error); shares the repeat check with LogMessage.
void LogMessageError(const char* message);
// Forgets the last logged message (tests).
void ResetLogRepeat();

// Replaces the post state file atomically with {"state": "<state>", "time": <now>}.
void ReportPostStatus(const char* state);
// The same with the count of records waiting to be sent and the time of the last successful post
// (0 when none yet): {"state": ..., "time": ..., "waiting": N, "lastSuccess": T}.
void ReportPostStatusWithBacklog(const char* state, int64_t waiting, int64_t lastSuccess);
