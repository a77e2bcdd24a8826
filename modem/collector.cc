#include "modem/collector.h"

#include <cstdio>
#include <cstring>

#include "config/context.h"
#include "modem/channel.h"
#include "modem/qmi_readings.h"

const char* AskModem(GatherContext* ctx, const Collector& row, char* reply) {
  const int size = static_cast<int>(strlen(row.command)) + 1;
  return modem_Send(ctx, row.command, size, reply) > 0 ? reply : nullptr;
}

const char* AskQmi(GatherContext* ctx, const Collector& row, char*) {
  if (QmiCmd(ctx, row.command, row.totalMs) <= 0) return nullptr;
  const char* output = ctx->modem->qmiResult;
  if (QmiOutputIsError(output)) return nullptr;
  ctx->modem->lifeSigns.NoteAnswer(ModemWay::kQmi);
  return output;
}

int RunCollector(GatherContext* ctx, const Collector& row) {
  ModemSession* session = ctx->modem;
  if (row.once != nullptr && session->*row.once != 0) return 0;
  if (row.step != nullptr) {
    row.step(ctx);
    return 1;
  }
  char reply[kModemReplySize] = {};
  const char* text = row.request(ctx, row, reply);
  if (row.mark == OnceMark::kWhenAsked) session->*row.once = 1;
  if (text == nullptr) {
    if (row.failure != nullptr) fputs(row.failure, stderr);
    return 0;
  }
  if (row.take == nullptr || row.take(ctx, text) == 0) return 0;
  if (row.mark == OnceMark::kWhenTaken) session->*row.once = 1;
  if (row.afterTaken != nullptr) row.afterTaken(ctx);
  return 1;
}
