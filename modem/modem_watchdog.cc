#include "modem/modem_watchdog.h"

#include "modem/modem_life_signs.h"
#include "modem/modem_pass.h"
#include "modem/modem_session.h"
#include "status/status_table.h"

namespace {

constexpr int32_t kResetAfterUptime = 181;  // seconds
// A modem needs about this long to restart and register after an accepted reset; resetting it
// again sooner only starts it over.
constexpr int32_t kResetSpacing = 180;  // seconds

}  // namespace

bool AnsweredAtCommand(const StatusTable& table) {
  static constexpr StatusIndex kAnswered[] = {kModemSwVersion_s, kIMSI_s,  kMCBV_s, kMCLBV_s,
                                              kUeRssi_i,         kScMcc_i, kScRssi_i};
  return table.AnyHolds(kAnswered, sizeof kAnswered / sizeof kAnswered[0]);
}

ModemVerdict JudgeModem(const StatusTable& table, const ModemLifeSigns& signs) {
  // ModemManager may refuse AT commands (it passes them only in its debug mode): a modem that
  // answers its properties or QMI is alive all the same.
  if (AnsweredAtCommand(table) || signs.AnsweredAny()) return ModemVerdict::kAnswered;
  // The snapshot writer renders about a second after start, before the first pass has asked; a
  // daemon restarted long after boot must not reset the modem for that.
  if (!signs.Asked()) return ModemVerdict::kNotAskedYet;
  return ModemVerdict::kSilent;
}

void RunModemWatchdog(ModemWatchdog* watchdog, ModemPass& pass) {
  if (watchdog->answered) return;
  const ModemVerdict verdict = JudgeModem(pass.table, pass.session.lifeSigns);
  if (verdict == ModemVerdict::kAnswered) {
    watchdog->answered = true;
    return;
  }
  if (watchdog->stopped || verdict == ModemVerdict::kNotAskedYet) return;
  const int32_t uptime = watchdog->uptime();
  if (uptime < kResetAfterUptime) return;
  if (watchdog->resetAccepted && uptime - watchdog->lastResetUptime < kResetSpacing) return;
  // No reset taken (no modem index, no answer, or ModemManager's refusal): give up for good.
  if (watchdog->reset(pass) != MmAnswer::kAnswered) {
    watchdog->stopped = true;
    return;
  }
  watchdog->resetAccepted = true;
  watchdog->lastResetUptime = uptime;
}
