#include "modem/modem_watchdog.h"

#include "config/context.h"
#include "status/status_table.h"

namespace {

constexpr int32_t kResetAfterUptime = 181;  // seconds
// A modem needs about this long to restart and register after an accepted reset; resetting it
// again sooner only starts it over.
constexpr int32_t kResetSpacing = 180;  // seconds

bool ModemAnswered(StatusTable* table) {
  StatusLock(table);
  const bool answered = validATResponse(table) != 0;
  StatusUnlock(table);
  return answered;
}

}  // namespace

int validATResponse(const StatusTable* table) {
  static constexpr StatusIndex kAnswered[] = {kModemSwVersion_s, kIMSI_s,  kMCBV_s, kMCLBV_s,
                                              kUeRssi_i,         kScMcc_i, kScRssi_i};
  for (StatusIndex index : kAnswered) {
    if (table->entries[index].value[0] != '\0') return 1;
  }
  return 0;
}

void RunModemWatchdog(ModemWatchdog* watchdog, GatherContext* ctx) {
  if (watchdog->answered) return;
  if (ModemAnswered(ctx->statusTable)) {
    watchdog->answered = true;
    return;
  }
  if (watchdog->stopped) return;
  const int32_t uptime = watchdog->uptime();
  if (uptime < kResetAfterUptime) return;
  if (watchdog->resetAccepted && uptime - watchdog->lastResetUptime < kResetSpacing) return;
  // No usable reply (no modem index, a reply too short to be ModemManager's, or its error): give
  // up for good.
  if (watchdog->reset(ctx) <= 0) {
    watchdog->stopped = true;
    return;
  }
  watchdog->resetAccepted = true;
  watchdog->lastResetUptime = uptime;
}
