#include "modem/band_rssi.h"

#include <cstdio>

#include "config/context.h"
#include "exec/pattern.h"
#include "modem/channel.h"
#include "modem/collectors.h"
#include "modem/reply_rows.h"
#include "status/status_table.h"

namespace {

constexpr char kBandPrefix[] = "+QCFG: \"band\",";
constexpr int kBandRows = 8;

constexpr char kCsqPrefix[] = "+CSQ:";
constexpr int kCsqRows = 16;
constexpr int kCsqNumberLimit = 13;
constexpr int kRssiUnknown = 32;  // 32 and above (99 = not known) carry no strength

}  // namespace

int TakeBandConfig(GatherContext* ctx, const char* reply) {
  PatternArea area;
  if (TextAfterPrefix(reply, kBandPrefix, &area) == 0) return 0;
  ReplyRows rows;
  SplitReplyRows(area.output, kAtDelimiters, kBandRows, kAtRowChars, true, &rows);
  UpdateFixedStatus(ctx, kMCBV_s, rows.row[0]);
  UpdateFixedStatus(ctx, kMCLBV_s, rows.row[1]);
  return 1;
}

int TakeRssiBer(GatherContext* ctx, const char* reply) {
  PatternArea area;
  if (TextAfterPrefix(reply, kCsqPrefix, &area) == 0) return 0;
  ReplyRows rows;
  SplitReplyRows(area.output, kAtDelimiters, kCsqRows, kAtRowChars, false, &rows);

  char number[kCsqNumberLimit + 1];
  ExtractNumber(rows.row[0], kCsqNumberLimit, number);
  const int rssi = DecimalToInt(number);
  if (rssi >= kRssiUnknown) {
    printf("GetRssiBer Error: RSSI value of %d\n", rssi);
  } else {
    // Wide arithmetic: a huge negative report must not overflow.
    char dbm[24];
    snprintf(dbm, sizeof dbm, "%lld", 2LL * rssi - 113);
    UpdateVariableStatusT(ctx, kUeRssi_i, dbm, 0);
  }
  ExtractNumber(rows.row[1], kCsqNumberLimit, number);
  UpdateVariableStatusT(ctx, kUeRxQual_i, number, 0);
  return 1;
}
