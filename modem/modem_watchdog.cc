#include "report/modem_watchdog.h"

#include "base/clock.h"
#include "config/context.h"
#include "exec/pattern.h"
#include "modem/channel.h"

uint8_t modemAnswered = 0;
uint8_t stopResets = 0;

namespace {

constexpr int32_t kResetAfterUptime = 181;  // seconds
// A modem needs about this long to restart and register after an accepted reset; resetting it
// again sooner only starts it over.
constexpr int32_t kResetSpacing = 180;  // seconds

bool reset_accepted = false;
int32_t last_reset_uptime = 0;

ModemResetFunction reset_modem = modem_Reset;
UptimeFunction read_uptime = GetUptime;

}  // namespace

void SetModemWatchdogHooks(ModemResetFunction reset, UptimeFunction uptime) {
  reset_modem = reset != nullptr ? reset : modem_Reset;
  read_uptime = uptime != nullptr ? uptime : GetUptime;
}

void ResetModemWatchdog() {
  modemAnswered = 0;
  stopResets = 0;
  reset_accepted = false;
  last_reset_uptime = 0;
}

void RunModemWatchdog(GatherContext* ctx) {
  if (modemAnswered) return;
  if (validATResponse(ctx->statusTable)) {
    modemAnswered = 1;
    return;
  }
  if (stopResets) return;
  const int32_t uptime = read_uptime();
  if (uptime < kResetAfterUptime) return;
  if (reset_accepted && uptime - last_reset_uptime < kResetSpacing) return;
  // No usable reply (no modem index, a reply too short to be ModemManager's, or its error): give
  // up for good.
  if (reset_modem(ctx) <= 0) {
    stopResets = 1;
    return;
  }
  reset_accepted = true;
  last_reset_uptime = uptime;
}
