#include "modem/collector.h"

#include <cstdio>

#include "config/context.h"
#include "modem/channel.h"

const char* AskModem(GatherContext* ctx, const Collector& row, AtReply* scratch) {
  return SendAtCommand(ctx, row.command, scratch) == MmAnswer::kAnswered ? scratch->text : nullptr;
}

namespace {

// What a row's request gave: -1 no reply, 0 a reply with nothing stored, 1 stored.
int Ask(GatherContext* ctx, const Collector& row) {
  if (row.qmi != nullptr) return row.qmi(ctx, row.totalMs);
  AtReply scratch{};
  const char* text = row.request(ctx, row, &scratch);
  if (text == nullptr) return -1;
  return row.take != nullptr && row.take(ctx, text) != 0 ? 1 : 0;
}

}  // namespace

int RunCollector(GatherContext* ctx, const Collector& row) {
  ModemSession* session = ctx->modem;
  if (row.once != nullptr && session->*row.once != 0) return 0;
  if (row.step != nullptr) {
    row.step(ctx);
    return 1;
  }
  const int taken = Ask(ctx, row);
  if (row.mark == OnceMark::kWhenAsked) session->*row.once = 1;
  if (taken < 0) {
    if (row.failure != nullptr) fputs(row.failure, stderr);
    return 0;
  }
  if (taken == 0) return 0;
  if (row.mark == OnceMark::kWhenTaken) session->*row.once = 1;
  if (row.afterTaken != nullptr) row.afterTaken(ctx);
  return 1;
}
