#include "modem/group_ids.h"

#include <cstdio>

#include "exec/pattern.h"
#include "modem/modem_pass.h"
#include "modem/modem_session.h"
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

void StoreGroupIds(ModemPass& pass, const GroupIds& ids) {
  pass.table.UpdateFixed(kGID1_i, ids.gid1);
  pass.table.UpdateFixed(kGID2_i, ids.gid2);
}

int TakeGroupIds(ModemPass& pass, const char* reply) {
  return ParseAndStore(pass, reply, ParseGroupIds, StoreGroupIds);
}
