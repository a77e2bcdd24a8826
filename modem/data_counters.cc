#include "modem/data_counters.h"

#include <cstdio>
#include <cstring>

#include "base/console_text.h"
#include "config/context.h"
#include "exec/pattern.h"
#include "modem/channel.h"
#include "modem/collectors.h"
#include "modem/reply_rows.h"
#include "status/status_table.h"

namespace {

constexpr char kPrefix[] = "+QGDCNT:";
constexpr int kRows = 5;

// The row's ASCII letters and digits.
void StoreAlnum(GatherContext* ctx, uint32_t index, const char* row) {
  char clean[129] = {};
  RemoveWhiteSpace(row, clean, 128);
  UpdateVariableStatusT(ctx, index, clean, 0);
}

}  // namespace

int TakeRxTxBytes(GatherContext* ctx, const char* reply) {
  PatternArea area;
  if (TextAfterPrefix(reply, kPrefix, &area) == 0) return 0;
  ReplyRows rows;
  SplitReplyRows(area.output, kAtDelimiters, kRows, kAtRowChars, false, &rows);
  if (!rows.full && rows.count == 3 && strcmp(rows.row[2], "OK") != 0) {
    PrintOutsideText(stdout, "GetRxTxBytes failed: expected OK row 2 got: %s\n", rows.row[2]);
    return 0;
  }
  StoreAlnum(ctx, kAtTxBytes_i, rows.row[0]);
  StoreAlnum(ctx, kAtRxBytes_i, rows.row[1]);
  return 1;
}
