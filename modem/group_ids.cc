#include "modem/group_ids.h"

#include "config/context.h"
#include "exec/pattern.h"
#include "modem/channel.h"
#include "modem/collectors.h"
#include "modem/modem_session.h"
#include "modem/reply_rows.h"
#include "status/status_table.h"

namespace {

constexpr char kPrefix[] = "+QGID:";
constexpr int kRows = 4;

}  // namespace

int TakeGroupIds(GatherContext* ctx, const char* reply) {
  PatternArea area;
  if (TextAfterPrefix(reply, kPrefix, &area) == 0) return 0;
  ReplyRows rows;
  SplitReplyRows(area.output, kAtDelimiters, kRows, kAtRowChars, true, &rows);
  char gid1[129] = {};
  RemoveWhiteSpace(rows.row[0], gid1, 128);
  UpdateFixedStatus(ctx, kGID1_i, gid1);
  UpdateFixedStatus(ctx, kGID2_i, rows.row[1]);
  return 1;
}
