#include "modem/group_ids.h"

#include "config/context.h"
#include "exec/pattern.h"
#include "modem/channel.h"
#include "modem/collectors.h"
#include "modem/modem_session.h"
#include "modem/reply_rows.h"
#include "status/status_table.h"

namespace {

constexpr char kCommand[] = "AT+QGID\r";
constexpr char kPrefix[] = "+QGID:";
constexpr int kRows = 4;

}  // namespace

void TakeGroupIds(GatherContext* ctx, const char* reply) {
  PatternArea area;
  if (TextAfterPrefix(reply, kPrefix, &area) == 0) return;
  ReplyRows rows;
  SplitReplyRows(area.output, kAtDelimiters, kRows, kAtRowChars, true, &rows);
  char gid1[129] = {};
  RemoveWhiteSpace(rows.row[0], gid1, 128);
  UpdateFixedStatus(ctx, kGID1_i, gid1);
  UpdateFixedStatus(ctx, kGID2_i, rows.row[1]);
}

void GetGroupIds(GatherContext* ctx) {
  if (ctx->modem->gidQueried != 0) return;
  char reply[kModemReplySize] = {};
  if (modem_Send(ctx, kCommand, sizeof kCommand, reply) > 0) TakeGroupIds(ctx, reply);
  ctx->modem->gidQueried = 1;
}
