#include "modem/collector.h"

#include <cstdio>

#include "modem/channel.h"
#include "modem/modem_pass.h"

const char* AskModem(ModemPass& pass, const Collector& row, AtReply* scratch) {
  return SendAtCommand(pass, row.command, scratch) == MmAnswer::kAnswered ? scratch->text : nullptr;
}

namespace {

// What a row's request gave: -1 no reply, 0 a reply with nothing stored, 1 stored.
int Ask(ModemPass& pass, const Collector& row) {
  if (row.qmi != nullptr) return row.qmi(pass, row.totalMs);
  AtReply scratch{};
  const char* text = row.request(pass, row, &scratch);
  if (text == nullptr) return -1;
  return row.take != nullptr && row.take(pass, text) != 0 ? 1 : 0;
}

}  // namespace

int RunCollector(ModemPass& pass, const Collector& row) {
  ModemSession* session = &pass.session;
  if (row.once != nullptr && session->*row.once != 0) return 0;
  if (row.step != nullptr) {
    row.step(pass);
    return 1;
  }
  const int taken = Ask(pass, row);
  if (row.mark == OnceMark::kWhenAsked) session->*row.once = 1;
  if (taken < 0) {
    if (row.failure != nullptr) fputs(row.failure, stderr);
    return 0;
  }
  if (taken == 0) return 0;
  if (row.mark == OnceMark::kWhenTaken) session->*row.once = 1;
  if (row.afterTaken != nullptr) row.afterTaken(pass);
  return 1;
}
