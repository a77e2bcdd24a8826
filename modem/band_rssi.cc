#include "modem/band_rssi.h"

#include <cstdio>

#include "config/context.h"
#include "exec/pattern.h"
#include "modem/channel.h"
#include "modem/collectors.h"
#include "modem/reply_rows.h"
#include "status/status_table.h"

namespace {

constexpr char kBandCommand[] = "AT+QCFG=\"band\"\r";
constexpr char kBandPrefix[] = "+QCFG: \"band\",";
constexpr int kBandRows = 8;

constexpr char kCsqCommand[] = "AT+CSQ\r";
constexpr char kCsqPrefix[] = "+CSQ:";
constexpr int kCsqRows = 16;
constexpr int kCsqNumberLimit = 13;
constexpr int kRssiUnknown = 32;  // 32 and above (99 = not known) carry no strength

}  // namespace

void TakeBandConfig(GatherContext* ctx, const char* reply) {
  PatternArea area;
  if (TextAfterPrefix(reply, kBandPrefix, &area) == 0) return;
  ReplyRows rows;
  SplitReplyRows(area.output, kAtDelimiters, kBandRows, kAtRowChars, true, &rows);
  UpdateFixedStatus(ctx, kMCBV_s, rows.row[0]);
  UpdateFixedStatus(ctx, kMCLBV_s, rows.row[1]);
}

void TakeRssiBer(GatherContext* ctx, const char* reply) {
  PatternArea area;
  if (TextAfterPrefix(reply, kCsqPrefix, &area) == 0) return;
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
}

void GetBandConfig(GatherContext* ctx) {
  char reply[kModemReplySize] = {};
  if (modem_Send(ctx, kBandCommand, sizeof kBandCommand, reply) <= 0) return;
  TakeBandConfig(ctx, reply);
}

void GetRssiBer(GatherContext* ctx) {
  char reply[kModemReplySize] = {};
  if (modem_Send(ctx, kCsqCommand, sizeof kCsqCommand, reply) <= 0) return;
  TakeRssiBer(ctx, reply);
}
