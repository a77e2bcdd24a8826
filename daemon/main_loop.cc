// Placeholder until the polling loop lands: waits for SIGINT.
#include "daemon/main_loop.h"

#include <unistd.h>

#include "daemon/signals.h"

int RunMainLoop(GatherContext*, const char*) {
  while (!stopRequested) sleep(1);
  return 0;
}
