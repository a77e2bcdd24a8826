#include "modem/data_counters.h"

#include <cstdio>
#include <cstring>

#include "base/console_text.h"
#include "exec/pattern.h"
#include "modem/modem_pass.h"
#include "modem/modem_session.h"
#include "modem/parse_and_store.h"
#include "modem/reply_rows.h"
#include "status/status_table.h"

namespace {

constexpr char kPrefix[] = "+QGDCNT:";
constexpr int kRows = 5;



}  // namespace

DataCounters ParseDataCounters(const char* reply) {
  DataCounters counters{};
  PatternArea area;
  if (TextAfterPrefix(reply, kPrefix, &area) == 0) return counters;
  ReplyRows rows;
  SplitReplyRows(area.output, kAtDelimiters, kRows, kAtRowChars, false, &rows);
  if (!rows.full && rows.count == 3 && strcmp(rows.row[2], "OK") != 0) {
    PrintOutsideText(stdout, "GetRxTxBytes failed: expected OK row 2 got: %s\n", rows.row[2]);
    return counters;
  }
  RemoveWhiteSpace(rows.row[0], counters.txBytes, kCounterTextSize - 1);
  RemoveWhiteSpace(rows.row[1], counters.rxBytes, kCounterTextSize - 1);
  counters.valid = true;
  return counters;
}

void StoreDataCounters(ModemPass& pass, const DataCounters& counters) {
  pass.table.Update(kAtTxBytes_i, counters.txBytes, 0);
  pass.table.Update(kAtRxBytes_i, counters.rxBytes, 0);
}

int TakeRxTxBytes(ModemPass& pass, const char* reply) {
  return ParseAndStore(pass, reply, ParseDataCounters, StoreDataCounters);
}
