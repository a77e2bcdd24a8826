#include "modem/collector.h"

#include <cstdio>
#include <cstring>

#include "modem/channel.h"
#include "modem/modem_pass.h"
#include "modem/modem_session.h"
#include "modem/qmi_readings.h"
#include "status/status_table.h"

const char* AskModem(ModemPass& pass, const Collector& row, char* reply) {
  const int size = static_cast<int>(strlen(row.command)) + 1;
  return modem_Send(pass, row.command, size, reply) > 0 ? reply : nullptr;
}

const char* AskQmi(ModemPass& pass, const Collector& row, char*) {
  if (QmiCmd(pass, row.command, row.totalMs, row.idleMs) <= 0) return nullptr;
  const char* output = pass.session.qmiResult;
  if (QmiOutputIsError(output)) return nullptr;
  pass.session.lifeSigns.NoteAnswer(ModemWay::kQmi);
  return output;
}

int RunCollector(ModemPass& pass, const Collector& row) {
  ModemSession* session = &pass.session;
  if (row.once != nullptr && session->*row.once != 0) return 0;
  if (row.step != nullptr) {
    row.step(pass);
    return 1;
  }
  char reply[kModemReplySize] = {};
  const char* text = row.request(pass, row, reply);
  if (row.mark == OnceMark::kWhenAsked) session->*row.once = 1;
  if (text == nullptr) {
    if (row.failure != nullptr) fputs(row.failure, stderr);
    return 0;
  }
  if (row.take == nullptr || row.take(pass, text) == 0) return 0;
  if (row.mark == OnceMark::kWhenTaken) session->*row.once = 1;
  if (row.afterTaken != nullptr) row.afterTaken(pass);
  return 1;
}
