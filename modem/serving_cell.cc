#include "modem/serving_cell.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/console_text.h"
#include "config/context.h"
#include "exec/shell_command.h"
#include "exec/pattern.h"
#include "modem/channel.h"
#include "modem/collectors.h"
#include "modem/modem_session.h"
#include "modem/reply_rows.h"
#include "status/status_table.h"

namespace {

constexpr char kCommand[] = "AT+QENG=\"servingcell\"\r";
constexpr char kPrefix[] = "+QENG: ";
constexpr int kHpueThreshold = 24;

// Modem bandwidth codes 0..5 in megahertz.
constexpr const char* kBandwidths[] = {"1.4", "3", "5", "10", "15", "20"};

void StoreBandwidth(GatherContext* ctx, uint32_t index, const char* row) {
  const int code = DecimalToInt(row);
  if (code >= 0 && code <= 5) UpdateVariableStatusT(ctx, index, kBandwidths[code], 0);
}

// The LED tool runs through the shell; the dark LED is switched before the lit one.
int RunShell(const char* command) { return RunShellCommand(command); }

}  // namespace

int SetHpueLed(int32_t txPower) {
  if (txPower < kHpueThreshold) {
    RunShell("gpio led hpue_blue off");
    return RunShell("gpio led hpue_green on");
  }
  RunShell("gpio led hpue_green off");
  return RunShell("gpio led hpue_blue on");
}

int ParseServingCell(GatherContext* ctx, const char* reply) {
  PatternArea area;
  if (TextAfterPrefix(reply, kPrefix, &area) == 0) return 0;
  ReplyRows rows;
  SplitReplyRows(area.output, kQengDelimiters, kMaxReplyRows, kAtRowChars, false, &rows);
  const auto& row = rows.row;

  if (strcmp(row[0], "servingcell") != 0) {
    PrintOutsideText(stderr, "GetServingCellInfo failed: expected servingcell in row 0 got: %s\n",
                     row[0]);
    return 0;
  }
  if (!rows.full) {
    if (rows.count < 18) {
      fprintf(stderr, "GetServingCellInfo failed: expected >=18 rows got %d\n", rows.count);
      return 0;
    }
    if (rows.count == 19 && strcmp(row[18], "OK") != 0) {
      PrintOutsideText(stdout, "GetServingCellInfo failed: expected OK row %d got: %s\n", 18,
                       row[18]);
      return 0;
    }
  }

  UpdateVariableStatusT(ctx, kScMode_s, row[2], 0);
  UpdateVariableStatus_l(ctx, kScId_i, HexToLong(row[6]));
  UpdateVariableStatusT(ctx, kScMcc_i, row[4], 0);
  UpdateVariableStatusT(ctx, kScMnc_i, row[5], 0);
  UpdateVariableStatusT(ctx, kScPId_i, row[7], 0);
  UpdateVariableStatusT(ctx, kScEarfcn_i, row[8], 0);
  SetHpueLed(ctx->modem->lastTxPower);
  UpdateVariableStatusT(ctx, kScFb_i, row[9], 0);
  StoreBandwidth(ctx, kScUlb_f, row[10]);
  StoreBandwidth(ctx, kScDlb_f, row[11]);
  UpdateVariableStatus_l(ctx, kScTac_i, HexToLong(row[12]));
  UpdateVariableStatusT(ctx, kScRsrp_i, row[13], 0);
  UpdateVariableStatusT(ctx, kScRsrq_i, row[14], 0);
  UpdateVariableStatusT(ctx, kScRssi_i, row[15], 0);
  const double sinr = (DecimalToInt(row[16]) / 5.0) * 10.0 - 20.0;
  UpdateVariableStatus_f(ctx, kScSinr_f, static_cast<float>(sinr), 0);
  if (row[17][0] == '-') return 1;
  // A row with blanks before its minus sign gets here; keep the difference in range.
  const long long rx = DecimalToInt(row[17]) - 111LL;
  UpdateVariableStatus_i(ctx, kScRx_i, static_cast<int32_t>(rx < INT32_MIN ? INT32_MIN : rx));
  return 1;
}

void GetServingCellInfo(GatherContext* ctx) {
  char reply[kModemReplySize] = {};
  if (modem_Send(ctx, kCommand, sizeof kCommand, reply) <= 0) return;
  ParseServingCell(ctx, reply);
}
