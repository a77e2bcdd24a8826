#include "modem/qmi_readings.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/context.h"
#include "base/paths.h"
#include "exec/zel_exec.h"
#include "modem/channel.h"
#include "modem/collectors.h"
#include "modem/modem_session.h"
#include "modem/reply_rows.h"
#include "status/status_table.h"

namespace {

constexpr int kTxRxRows = 32;
constexpr int kChainNumberLimit = 16;
constexpr int kTxPowerRow = 27;
constexpr int kTxHeaderRow = 23;
constexpr int kCaRows = 64;
constexpr int kCaNumberLimit = 6;
constexpr int kSignalRows = 64;
constexpr int kSnrRow = 9;
constexpr int kSnrNumberLimit = 6;
constexpr int kHomeRows = 32;

struct ChainValue {
  int row;
  uint32_t index;
};

// Rows of the two receive chains in qmicli's --nas-get-tx-rx-info=lte output.
constexpr ChainValue kChainValues[] = {
    {5, kQmiRxC0RxPwr_f},  {7, kQmiRxC0Ecio_f},  {9, kQmiRxC0Rsrp_f},  {11, kQmiRxC0Phase_f},
    {16, kQmiRxC1RxPwr_f}, {18, kQmiRxC1Ecio_f}, {20, kQmiRxC1Rsrp_f}, {22, kQmiRxC1Phase_f},
};

void StoreNumber(GatherContext* ctx, uint32_t index, const char* row, int limit) {
  char number[kReplyRowSize] = {};
  ExtractNumber(row, limit, number);
  UpdateVariableStatusT(ctx, index, number, 0);
}

}  // namespace

int QmiOutputIsError(const char* output) {
  return strncmp(output, "error:", 6) == 0 ? 1 : 0;
}

int TakeTxRxInfo(GatherContext* ctx, const char* output) {
  if (QmiOutputIsError(output)) return 0;
  ReplyRows rows;
  SplitReplyRows(output, kQmiDelimiters, kTxRxRows, kQmiRowChars, false, &rows);
  for (const ChainValue& value : kChainValues) {
    StoreNumber(ctx, value.index, rows.row[value.row], kChainNumberLimit);
  }
  // Row 27 is the transmit power only when the TX block follows the two receive chains; with
  // more chains reported it would be a receive power.
  if (rows.count < kTxPowerRow + 1 || strcmp(rows.row[kTxHeaderRow], "TX") != 0) return 0;
  char power[kChainNumberLimit + 1];
  ExtractNumber(rows.row[kTxPowerRow], kChainNumberLimit, power);
  ctx->modem->lastTxPower = DecimalToInt(power);
  UpdateVariableStatusT(ctx, kQmiTxPwr_f, power, 0);
  return 1;
}

int TakeCAInfo(GatherContext* ctx, const char* output) {
  ReplyRows rows;
  SplitReplyRows(output, kQmiDelimiters, kCaRows, kQmiRowChars, false, &rows);
  if (strstr(rows.row[12], "Secondary Cell") == nullptr ||
      strstr(rows.row[19], "LTE Band") == nullptr) {
    return 0;
  }
  char number[kCaNumberLimit + 1];
  ExtractNumber(rows.row[20], kCaNumberLimit, number);
  char digits[16];
  snprintf(digits, sizeof digits, "%d", abs(DecimalToInt(number)));
  char band[6];  // the band text keeps at most 5 characters
  snprintf(band, sizeof band, "%.5s", digits);
  UpdateVariableStatusT(ctx, kQmi_CaBand_i, band, 0);
  return 1;
}

int TakeSignalInfo(GatherContext* ctx, const char* output) {
  if (QmiOutputIsError(output)) return 0;
  ReplyRows rows;
  SplitReplyRows(output, kQmiDelimiters, kSignalRows, kQmiRowChars, true, &rows);
  StoreNumber(ctx, kQmi_ScSnr_f, rows.row[kSnrRow], kSnrNumberLimit);
  return 1;
}

int TakeHomeNetwork(GatherContext* ctx, const char* output) {
  ReplyRows rows;
  SplitReplyRows(output, kLineDelimiters, kHomeRows, kQmiRowChars, true, &rows);
  StoreNumber(ctx, kHnMcc_i, rows.row[0], kReplyRowSize - 1);
  StoreNumber(ctx, kHnMnc_i, rows.row[1], kReplyRowSize - 1);
  char name[kReplyRowSize] = {};
  if (rows.row[2][0] != '\0') CleanQuotedText(rows.row[2], name, sizeof name);
  UpdateVariableStatusT(ctx, kHnName_s, name, 0);
  return 1;
}

const char* AskHomeNetwork(GatherContext* ctx, const Collector&, char*) {
  ModemSession* session = ctx->modem;
  memset(session->qmiResult, 0, sizeof session->qmiResult);
  char program_name[] = "home-network.sh";
  char* const argv[] = {program_name, session->qmiDevice, nullptr};
  if (Zel_Exec(RouterPathOf(RouterPath::kHomeNetwork), argv, 2000, 500, session->qmiResult,
               kQmiResultSize - 1) <= 0) {
    return nullptr;
  }
  return session->qmiResult;
}
