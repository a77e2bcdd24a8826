#include "report/modem_watchdog.h"

#include "daemon/clock.h"
#include "daemon/context.h"
#include "exec/pattern.h"
#include "modem/channel.h"

uint8_t modemAnswered = 0;
uint8_t stopResets = 0;

namespace {

constexpr int32_t kResetAfterUptime = 181;  // seconds

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
}

void RunModemWatchdog(GatherContext* ctx) {
  if (modemAnswered) return;
  if (validATResponse(ctx->statusTable)) {
    modemAnswered = 1;
    return;
  }
  if (stopResets) return;
  if (read_uptime() < kResetAfterUptime) return;
  // No usable reply (no modem index, or a reply too short to be ModemManager's): give up for good.
  if (reset_modem(ctx) <= 0) stopResets = 1;
}
