#include "modem/band_rssi.h"

#include <cstdio>

#include "exec/pattern.h"
#include "modem/modem_pass.h"
#include "modem/modem_session.h"
#include "modem/parse_and_store.h"
#include "modem/reply_rows.h"
#include "status/status_table.h"

namespace {

constexpr char kBandPrefix[] = "+QCFG: \"band\",";
constexpr int kBandRows = 8;

constexpr char kCsqPrefix[] = "+CSQ:";
constexpr int kCsqRows = 16;
constexpr int kCsqNumberLimit = kCsqNumberSize - 1;
constexpr int kRssiUnknown = 32;  // 32 and above (99 = not known) carry no strength

}  // namespace

BandConfig ParseBandConfig(const char* reply) {
  BandConfig config{};
  PatternArea area;
  if (TextAfterPrefix(reply, kBandPrefix, &area) == 0) return config;
  ReplyRows rows;
  SplitReplyRows(area.output, kAtDelimiters, kBandRows, kAtRowChars, true, &rows);
  snprintf(config.bands, sizeof config.bands, "%s", rows.row[0]);
  snprintf(config.lteBands, sizeof config.lteBands, "%s", rows.row[1]);
  config.valid = true;
  return config;
}

void StoreBandConfig(ModemPass& pass, const BandConfig& config) {
  pass.table.UpdateFixed(kMCBV_s, config.bands);
  pass.table.UpdateFixed(kMCLBV_s, config.lteBands);
}

int TakeBandConfig(ModemPass& pass, const char* reply) {
  return ParseAndStore(pass, reply, ParseBandConfig, StoreBandConfig);
}

RssiBer ParseRssiBer(const char* reply) {
  RssiBer signal{};
  PatternArea area;
  if (TextAfterPrefix(reply, kCsqPrefix, &area) == 0) return signal;
  ReplyRows rows;
  SplitReplyRows(area.output, kAtDelimiters, kCsqRows, kAtRowChars, false, &rows);

  char number[kCsqNumberSize];
  ExtractNumber(rows.row[0], kCsqNumberLimit, number);
  const int rssi = DecimalToInt(number);
  if (rssi >= kRssiUnknown) {
    printf("GetRssiBer Error: RSSI value of %d\n", rssi);
  } else {
    // Wide arithmetic: a huge negative report must not overflow.
    signal.hasDbm = true;
    signal.dbm = 2LL * rssi - 113;
  }
  ExtractNumber(rows.row[1], kCsqNumberLimit, signal.rxQual);
  signal.valid = true;
  return signal;
}

void StoreRssiBer(ModemPass& pass, const RssiBer& signal) {
  if (signal.hasDbm) {
    char dbm[24];
    snprintf(dbm, sizeof dbm, "%lld", signal.dbm);
    pass.table.Update(kUeRssi_i, dbm, 0);
  }
  pass.table.Update(kUeRxQual_i, signal.rxQual, 0);
}

int TakeRssiBer(ModemPass& pass, const char* reply) {
  return ParseAndStore(pass, reply, ParseRssiBer, StoreRssiBer);
}
