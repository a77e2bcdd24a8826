#include "modem/qmi_readings.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/paths.h"
#include "base/signals.h"
#include "exec/program_run.h"
#include "modem/collectors.h"
#include "modem/modem_pass.h"
#include "modem/modem_session.h"
#include "modem/parse_and_store.h"
#include "modem/qmi_link.h"
#include "modem/reply_rows.h"
#include "status/status_table.h"

namespace {

constexpr int kTxRxRows = 32;
constexpr int kChainNumberLimit = kChainNumberSize - 1;
constexpr int kTxPowerRow = 27;
constexpr int kTxHeaderRow = 23;
constexpr int kCaRows = 64;
constexpr int kCaNumberLimit = 6;
constexpr int kSignalRows = 64;
constexpr int kSnrRow = 9;
constexpr int kSnrNumberLimit = kSnrSize - 1;
constexpr int kHomeRows = 32;

// Rows of the two receive chains in qmicli's --nas-get-tx-rx-info=lte output, in TxRxInfo order.
constexpr int kChainRows[kRxChainValues] = {5, 7, 9, 11, 16, 18, 20, 22};
// Their status values, in the same order.
constexpr uint32_t kChainIndexes[kRxChainValues] = {
    kQmiRxC0RxPwr_f, kQmiRxC0Ecio_f, kQmiRxC0Rsrp_f, kQmiRxC0Phase_f,
    kQmiRxC1RxPwr_f, kQmiRxC1Ecio_f, kQmiRxC1Rsrp_f, kQmiRxC1Phase_f,
};

}  // namespace

int QmiOutputIsError(const char* output) { return strncmp(output, "error:", 6) == 0 ? 1 : 0; }

TxRxInfo ParseTxRxInfo(const char* output) {
  TxRxInfo info{};
  if (QmiOutputIsError(output)) return info;
  info.valid = true;
  ReplyRows rows;
  SplitReplyRows(output, kQmiDelimiters, kTxRxRows, kQmiRowChars, false, &rows);
  for (int n = 0; n < kRxChainValues; ++n) {
    ExtractNumber(rows.row[kChainRows[n]], kChainNumberLimit, info.chain[n]);
  }
  // Row 27 is the transmit power only when the TX block follows the two receive chains; with
  // more chains reported it would be a receive power.
  if (rows.count < kTxPowerRow + 1 || strcmp(rows.row[kTxHeaderRow], "TX") != 0) return info;
  ExtractNumber(rows.row[kTxPowerRow], kChainNumberLimit, info.txPower);
  info.hasTxPower = true;
  info.txPowerDbm = DecimalToInt(info.txPower);
  return info;
}

void StoreTxRxInfo(ModemPass& pass, const TxRxInfo& info) {
  for (int n = 0; n < kRxChainValues; ++n) {
    pass.table.Update(kChainIndexes[n], info.chain[n], 0);
  }
  if (!info.hasTxPower) return;
  pass.session.lastTxPower = info.txPowerDbm;
  pass.table.Update(kQmiTxPwr_f, info.txPower, 0);
}

int TakeTxRxInfo(ModemPass& pass, const TxRxInfo& info) {
  if (!info.valid) return 0;
  StoreTxRxInfo(pass, info);
  return info.hasTxPower ? 1 : 0;
}

CaInfo ParseCaInfo(const char* output) {
  CaInfo info{};
  ReplyRows rows;
  SplitReplyRows(output, kQmiDelimiters, kCaRows, kQmiRowChars, false, &rows);
  if (strstr(rows.row[12], "Secondary Cell") == nullptr ||
      strstr(rows.row[19], "LTE Band") == nullptr) {
    return info;
  }
  char number[kCaNumberLimit + 1];
  ExtractNumber(rows.row[20], kCaNumberLimit, number);
  char digits[16];
  snprintf(digits, sizeof digits, "%d", abs(DecimalToInt(number)));
  snprintf(info.band, sizeof info.band, "%.5s", digits);
  info.valid = true;
  return info;
}

void StoreCaInfo(ModemPass& pass, const CaInfo& info) {
  pass.table.Update(kQmi_CaBand_i, info.band, 0);
}

int TakeCAInfo(ModemPass& pass, const CaInfo& info) {
  if (!info.valid) return 0;
  StoreCaInfo(pass, info);
  return 1;
}

SignalInfo ParseSignalInfo(const char* output) {
  SignalInfo info{};
  if (QmiOutputIsError(output)) return info;
  ReplyRows rows;
  SplitReplyRows(output, kQmiDelimiters, kSignalRows, kQmiRowChars, true, &rows);
  ExtractNumber(rows.row[kSnrRow], kSnrNumberLimit, info.snr);
  info.valid = true;
  return info;
}

void StoreSignalInfo(ModemPass& pass, const SignalInfo& info) {
  pass.table.Update(kQmi_ScSnr_f, info.snr, 0);
}

int TakeSignalInfo(ModemPass& pass, const SignalInfo& info) {
  if (!info.valid) return 0;
  StoreSignalInfo(pass, info);
  return 1;
}

HomeNetwork ParseHomeNetwork(const char* output) {
  HomeNetwork network{};
  ReplyRows rows;
  SplitReplyRows(output, kLineDelimiters, kHomeRows, kQmiRowChars, true, &rows);
  ExtractNumber(rows.row[0], kReplyRowSize - 1, network.mcc);
  ExtractNumber(rows.row[1], kReplyRowSize - 1, network.mnc);
  if (rows.row[2][0] != '\0') CleanQuotedText(rows.row[2], network.name, sizeof network.name);
  network.valid = true;
  return network;
}

void StoreHomeNetwork(ModemPass& pass, const HomeNetwork& network) {
  pass.table.Update(kHnMcc_i, network.mcc, 0);
  pass.table.Update(kHnMnc_i, network.mnc, 0);
  pass.table.Update(kHnName_s, network.name, 0);
}

int TakeHomeNetwork(ModemPass& pass, const char* output) {
  return ParseAndStore(pass, output, ParseHomeNetwork, StoreHomeNetwork);
}

const char* AskHomeNetwork(ModemPass& pass, const Collector&, AtReply*) {
  ModemSession* session = &pass.session;
  memset(session->qmiResult, 0, sizeof session->qmiResult);
  char program_name[] = "home-network.sh";
  char* const argv[] = {program_name, session->qmiDevice, nullptr};
  const ProgramRun run{RouterPathOf(RouterPath::kHomeNetwork), argv, 2000, InterruptStopEvent()};
  if (RunProgram(run, session->qmiResult, kQmiResultSize - 1).length <= 0) {
    return nullptr;
  }
  return session->qmiResult;
}

namespace {

// -1 without an answer; else notes the QMI way as answered and returns 0.
int Answered(ModemPass& pass, QmiAnswer answer) {
  if (answer != QmiAnswer::kAnswered) return -1;
  pass.session.lifeSigns.NoteAnswer(ModemWay::kQmi);
  return 0;
}

}  // namespace

int QmiPowerOnSim(ModemPass& pass, int32_t totalMs) {
  return Answered(pass, pass.qmi.PowerOnSim(pass.session.qmiDevice, totalMs));
}

int QmiEnableAutoconnect(ModemPass& pass, int32_t totalMs) {
  return Answered(pass, pass.qmi.EnableAutoconnect(pass.session.qmiDevice, totalMs));
}

int QmiTxRxInfo(ModemPass& pass, int32_t totalMs) {
  TxRxInfo info{};
  if (Answered(pass, pass.qmi.ReadTxRxInfo(pass.session.qmiDevice, totalMs, &info)) < 0) return -1;
  return TakeTxRxInfo(pass, info);
}

int QmiCaInfo(ModemPass& pass, int32_t totalMs) {
  CaInfo info{};
  if (Answered(pass, pass.qmi.ReadCaInfo(pass.session.qmiDevice, totalMs, &info)) < 0) return -1;
  return TakeCAInfo(pass, info);
}

int QmiSignalInfo(ModemPass& pass, int32_t totalMs) {
  SignalInfo info{};
  if (Answered(pass, pass.qmi.ReadSignalInfo(pass.session.qmiDevice, totalMs, &info)) < 0) {
    return -1;
  }
  return TakeSignalInfo(pass, info);
}
