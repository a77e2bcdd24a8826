// The polling loop on the main thread after start-up, and the wind-down.
#pragma once

struct GatherContext;
class InfluxPoster;

// Runs passes until stopRequested is set, then winds down (threads joined, socket closed, UCI and
// udev released). Returns the process exit status (0). `csvPath` is the -f argument or empty;
// `poster` takes the Influx records (none: they are built and not sent).
int RunMainLoop(GatherContext* ctx, const char* csvPath, InfluxPoster* poster = nullptr);
