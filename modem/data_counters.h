// The modem's own data counters (AT+QGDCNT?).
#pragma once

struct ModemPass;

constexpr int kCounterTextSize = 129;  // a counter row's letters and digits and a terminator

// The sent and received byte counts of one reply, reduced to letters and digits.
struct DataCounters {
  bool valid;  // false: no "+QGDCNT:" report, or three rows not ending in OK (said on stdout)
  char txBytes[kCounterTextSize];
  char rxBytes[kCounterTextSize];
};

// Takes apart a counter reply as the ModemManager link hands it over.
DataCounters ParseDataCounters(const char* reply);
// Stores the sent and received bytes.
void StoreDataCounters(ModemPass& pass, const DataCounters& counters);
// ParseDataCounters and StoreDataCounters: 1 when stored, else 0.
int TakeRxTxBytes(ModemPass& pass, const char* reply);
