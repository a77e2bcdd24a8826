// The QMI radio readings (transmit and receive chains, carrier aggregation band, signal report)
// and the home network reported by the router's script.
#pragma once

#include <cstdint>

#include "modem/modem_manager_link.h"
#include "modem/reply_rows.h"

struct Collector;
struct ModemPass;

constexpr int kRxChainValues = 8;     // power, ECIO, RSRP and phase of receive chains 0 and 1
constexpr int kChainNumberSize = 17;  // a chain or power number: 16 characters and a terminator
constexpr int kCaBandSize = 6;        // the band text keeps at most 5 characters
constexpr int kSnrSize = 7;           // the SNR: 6 characters and a terminator

// The two receive chains of a TX/RX report and, when its TX block is complete, the transmit power.
struct TxRxInfo {
  bool valid;  // false: the client's own error report, nothing to store
  char chain[kRxChainValues][kChainNumberSize];  // chain 0 then chain 1: power, ECIO, RSRP, phase
  bool hasTxPower;  // false without a TX block right after the two receive chains
  char txPower[kChainNumberSize];
  int32_t txPowerDbm;  // the power's decimal part dropped
};

// The band of the secondary cell of a carrier aggregation report.
struct CaInfo {
  bool valid;  // false: no secondary cell with an LTE band in the report
  char band[kCaBandSize];
};

// The SNR of a signal report.
struct SignalInfo {
  bool valid;  // false: the client's own error report
  char snr[kSnrSize];
};

// The three lines of the home-network script: MCC, MNC and the network's name.
struct HomeNetwork {
  bool valid;  // always true: missing lines give empty texts
  char mcc[kReplyRowSize];
  char mnc[kReplyRowSize];
  char name[kReplyRowSize];
};

// Each takes apart the qmicli client's (or the script's) output; the signal report and the home
// network echo their rows on stdout.
TxRxInfo ParseTxRxInfo(const char* output);
CaInfo ParseCaInfo(const char* output);
SignalInfo ParseSignalInfo(const char* output);
HomeNetwork ParseHomeNetwork(const char* output);

// Each stores what its report holds; StoreTxRxInfo also keeps a stored transmit power in the
// session's lastTxPower.
void StoreTxRxInfo(ModemPass& pass, const TxRxInfo& info);
void StoreCaInfo(ModemPass& pass, const CaInfo& info);
void StoreSignalInfo(ModemPass& pass, const SignalInfo& info);
void StoreHomeNetwork(ModemPass& pass, const HomeNetwork& network);

// Store a valid reading. TakeTxRxInfo stores the receive chains of any valid answer but returns 1
// only when a transmit power was stored too; the others return 1 when they stored their values,
// else 0.
int TakeTxRxInfo(ModemPass& pass, const TxRxInfo& info);
int TakeCAInfo(ModemPass& pass, const CaInfo& info);
int TakeSignalInfo(ModemPass& pass, const SignalInfo& info);
int TakeHomeNetwork(ModemPass& pass, const char* output);

// The QMI rows: each asks the context's QMI link on the session's QMI device and takes the
// reading. -1 when no answer came (a refusal included), else what the take returned (the two
// setup requests: 0). Any answer notes the QMI way as answered in the session's life signs.
int QmiPowerOnSim(ModemPass& pass, int32_t totalMs);
int QmiEnableAutoconnect(ModemPass& pass, int32_t totalMs);
int QmiTxRxInfo(ModemPass& pass, int32_t totalMs);
int QmiCaInfo(ModemPass& pass, int32_t totalMs);
int QmiSignalInfo(ModemPass& pass, int32_t totalMs);

// Runs the router's home-network script into the session's script buffer (cleared first); the
// buffer when the script printed something, else nullptr.
const char* AskHomeNetwork(ModemPass& pass, const Collector& row, AtReply* scratch);

// 1 when a QMI client output is the client's own error report ("error: ...") rather than an
// answer; such output stores nothing.
int QmiOutputIsError(const char* output);
