// The band configuration (AT+QCFG="band") and the signal quality report (AT+CSQ).
#pragma once

#include "modem/reply_rows.h"

struct ModemPass;

constexpr int kCsqNumberSize = 14;  // a number of the signal report: 13 characters and a terminator

// The first two band masks of a band configuration reply.
struct BandConfig {
  bool valid;  // false: no "+QCFG: \"band\"," report
  char bands[kReplyRowSize];
  char lteBands[kReplyRowSize];
};

// The signal strength and bit error rate of a signal quality report.
struct RssiBer {
  bool valid;    // false: no "+CSQ:" report
  bool hasDbm;   // false for a strength of 32 and above (said on stdout): the value stays
  long long dbm;  // 2 * strength - 113
  char rxQual[kCsqNumberSize];
};

// Each takes apart a reply as the ModemManager link hands it over.
BandConfig ParseBandConfig(const char* reply);
RssiBer ParseRssiBer(const char* reply);
// Each stores what its report holds.
void StoreBandConfig(ModemPass& pass, const BandConfig& config);
void StoreRssiBer(ModemPass& pass, const RssiBer& signal);
// Parse and store: 1 when the report was found and stored, else 0.
int TakeBandConfig(ModemPass& pass, const char* reply);
int TakeRssiBer(ModemPass& pass, const char* reply);
