// The polling loop on the main thread: status cycles, records and the waits between them.
#pragma once

#include "daemon/daemon_options.h"

struct DaemonConfig;
class InfluxPoster;
struct ModemPass;
class StatusTable;
class UciSource;

// What the loop works with; the daemon owns each part.
struct LoopParts {
  const DaemonOptions& options;
  const DaemonConfig& config;
  StatusTable& table;
  ModemPass& pass;       // the modem steps' table, session and way to ModemManager
  UciSource& uci;        // where each cycle's network options are read
  InfluxPoster* poster;  // takes the Influx records; none: they are built and not sent
};

// Runs passes until stopRequested is set.
void RunMainLoop(const LoopParts& parts);
