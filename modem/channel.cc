#include "modem/channel.h"

#include <cstdio>

#include "base/console_text.h"
#include "base/log.h"
#include "modem/modem_pass.h"
#include "modem/modem_session.h"

namespace {

constexpr int32_t kListLimitMs = 2000;
constexpr int32_t kMaxModemIndex = 1000;

bool IndexTooLarge(const ModemSession& session) {
  if (session.modemIndex < kMaxModemIndex) return false;
  fprintf(stderr, "modem_Send error: Modem index too large! - %d\n", session.modemIndex);
  return true;
}

// ModemManager passes AT commands only when it runs in debug mode or was built to allow them over
// D-Bus; otherwise every one is refused, and each AT reading stays empty. Said once per run, with
// the fix.
void ReportAtRefusal(ModemSession* session) {
  if (session->atRefusalReported != 0) return;
  session->atRefusalReported = 1;
  LogMessageError(
      "ModemManager refuses AT commands, so every value read with them stays empty: run "
      "ModemManager at debug log level (--debug) or build it with AT commands over D-Bus "
      "(at_command_via_dbus)");
}

}  // namespace

int FindModem(ModemPass& pass) {
  ModemListing listing{};
  pass.manager.List(kListLimitMs, &listing);
  ModemSession* session = &pass.session;
  if (!listing.found) {
    if (session->modemIndex != -1) session->modemIndex = -1;
    return 0;
  }
  if (listing.index != session->modemIndex) {
    PrintOutsideText(stdout, "mmcli_GetIdx found modem %s index: %d\n", listing.number,
                     listing.index);
    fflush(stdout);
    session->modemIndex = listing.index;
  }
  return 1;
}

MmAnswer SendAtCommand(ModemPass& pass, const char* command, AtReply* reply) {
  ModemSession* session = &pass.session;
  if (IndexTooLarge(*session)) return MmAnswer::kNone;
  PrintOutsideText(stdout, "Sending command: %s -m %d --command=%s\n", pass.manager.TraceName(),
                   session->modemIndex, command);
  fflush(stdout);
  reply->forbidden = false;
  const MmAnswer answer =
      pass.manager.Command(session->modemIndex, command, session->cmdTotalMs, reply);
  if (answer == MmAnswer::kRefused && reply->forbidden) ReportAtRefusal(session);
  return answer;
}

MmAnswer ResetModem(ModemPass& pass) {
  ModemSession* session = &pass.session;
  if (IndexTooLarge(*session)) return MmAnswer::kNone;
  PrintOutsideText(stdout, "Sending command: %s -m %d -r\n", pass.manager.TraceName(),
                   session->modemIndex);
  fflush(stdout);
  return pass.manager.Reset(session->modemIndex, session->cmdTotalMs);
}
