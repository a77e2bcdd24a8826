// The polling loop on the main thread: status cycles, records and the waits between them.
#pragma once

#include "daemon/daemon_options.h"

struct GatherConfig;
class InfluxPoster;
struct ModemPass;
class StatusTable;

// What the loop works with; the daemon owns each part.
struct LoopParts {
  const DaemonOptions& options;
  const GatherConfig& config;
  StatusTable& table;
  ModemPass& pass;       // the modem steps' table, session and way to ModemManager
  InfluxPoster* poster;  // takes the Influx records; none: they are built and not sent
};

// Runs passes until stopRequested is set.
void RunMainLoop(const LoopParts& parts);
