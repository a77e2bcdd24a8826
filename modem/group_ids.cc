#include "modem/group_ids.h"

#include <cstdio>

#include "config/context.h"
#include "exec/pattern.h"
#include "modem/parse_and_store.h"
#include "modem/reply_rows.h"
#include "status/status_table.h"

namespace {

constexpr char kPrefix[] = "+QGID:";
constexpr int kRows = 4;

}  // namespace

GroupIds ParseGroupIds(const char* reply) {
  GroupIds ids{};
  PatternArea area;
  if (TextAfterPrefix(reply, kPrefix, &area) == 0) return ids;
  ReplyRows rows;
  SplitReplyRows(area.output, kAtDelimiters, kRows, kAtRowChars, true, &rows);
  RemoveWhiteSpace(rows.row[0], ids.gid1, kGid1Size - 1);
  snprintf(ids.gid2, sizeof ids.gid2, "%s", rows.row[1]);
  ids.valid = true;
  return ids;
}

void StoreGroupIds(GatherContext* ctx, const GroupIds& ids) {
  UpdateFixedStatus(ctx, kGID1_i, ids.gid1);
  UpdateFixedStatus(ctx, kGID2_i, ids.gid2);
}

int TakeGroupIds(GatherContext* ctx, const char* reply) {
  return ParseAndStore(ctx, reply, ParseGroupIds, StoreGroupIds);
}
