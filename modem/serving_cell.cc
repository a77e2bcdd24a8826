#include "modem/serving_cell.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/console_text.h"
#include "exec/pattern.h"
#include "modem/channel.h"
#include "modem/collectors.h"
#include "modem/modem_pass.h"
#include "modem/modem_session.h"
#include "modem/parse_and_store.h"
#include "modem/reply_rows.h"
#include "platform/board.h"
#include "status/status_table.h"

namespace {

constexpr char kPrefix[] = "+QENG: ";
constexpr int kHpueThreshold = 24;

// Modem bandwidth codes 0..5 in megahertz.
constexpr const char* kBandwidths[] = {"1.4", "3", "5", "10", "15", "20"};

// The bandwidth text of a row's code, or nullptr for a code outside 0..5.
const char* BandwidthText(const char* row) {
  const int code = DecimalToInt(row);
  return code >= 0 && code <= 5 ? kBandwidths[code] : nullptr;
}

}  // namespace

bool SetHpueLed(Board& board, int32_t txPower) {
  return board.SetHpueLeds(txPower >= kHpueThreshold);
}

ServingCell ParseServingCell(const char* reply) {
  ServingCell cell{};
  PatternArea area;
  if (TextAfterPrefix(reply, kPrefix, &area) == 0) return cell;
  ReplyRows rows;
  SplitReplyRows(area.output, kQengDelimiters, kMaxReplyRows, kAtRowChars, false, &rows);
  const auto& row = rows.row;

  if (strcmp(row[0], "servingcell") != 0) {
    PrintOutsideText(stderr, "GetServingCellInfo failed: expected servingcell in row 0 got: %s\n",
                     row[0]);
    return cell;
  }
  if (!rows.full) {
    if (rows.count < 18) {
      fprintf(stderr, "GetServingCellInfo failed: expected >=18 rows got %d\n", rows.count);
      return cell;
    }
    if (rows.count == 19 && strcmp(row[18], "OK") != 0) {
      PrintOutsideText(stdout, "GetServingCellInfo failed: expected OK row %d got: %s\n", 18,
                       row[18]);
      return cell;
    }
  }

  cell.valid = true;
  snprintf(cell.mode, sizeof cell.mode, "%s", row[2]);
  cell.cellId = HexToLong(row[6]);
  snprintf(cell.mcc, sizeof cell.mcc, "%s", row[4]);
  snprintf(cell.mnc, sizeof cell.mnc, "%s", row[5]);
  snprintf(cell.physicalCellId, sizeof cell.physicalCellId, "%s", row[7]);
  snprintf(cell.earfcn, sizeof cell.earfcn, "%s", row[8]);
  snprintf(cell.band, sizeof cell.band, "%s", row[9]);
  cell.uplinkMhz = BandwidthText(row[10]);
  cell.downlinkMhz = BandwidthText(row[11]);
  cell.trackingArea = HexToLong(row[12]);
  snprintf(cell.rsrp, sizeof cell.rsrp, "%s", row[13]);
  snprintf(cell.rsrq, sizeof cell.rsrq, "%s", row[14]);
  snprintf(cell.rssi, sizeof cell.rssi, "%s", row[15]);
  const double sinr = (DecimalToInt(row[16]) / 5.0) * 10.0 - 20.0;
  cell.sinr = static_cast<float>(sinr);
  if (row[17][0] != '-') {
    // A row with blanks before its minus sign gets here; keep the difference in range.
    const long long rx = DecimalToInt(row[17]) - 111LL;
    cell.hasRx = true;
    cell.rx = static_cast<int32_t>(rx < INT32_MIN ? INT32_MIN : rx);
  }
  return cell;
}

void StoreServingCell(ModemPass& pass, const ServingCell& cell) {
  pass.table.Update(kScMode_s, cell.mode, 0);
  pass.table.UpdateLong(kScId_i, cell.cellId);
  pass.table.Update(kScMcc_i, cell.mcc, 0);
  pass.table.Update(kScMnc_i, cell.mnc, 0);
  pass.table.Update(kScPId_i, cell.physicalCellId, 0);
  pass.table.Update(kScEarfcn_i, cell.earfcn, 0);
  pass.table.Update(kScFb_i, cell.band, 0);
  if (cell.uplinkMhz != nullptr) pass.table.Update(kScUlb_f, cell.uplinkMhz, 0);
  if (cell.downlinkMhz != nullptr) pass.table.Update(kScDlb_f, cell.downlinkMhz, 0);
  pass.table.UpdateLong(kScTac_i, cell.trackingArea);
  pass.table.Update(kScRsrp_i, cell.rsrp, 0);
  pass.table.Update(kScRsrq_i, cell.rsrq, 0);
  pass.table.Update(kScRssi_i, cell.rssi, 0);
  pass.table.UpdateFloat(kScSinr_f, cell.sinr, 0);
  if (cell.hasRx) pass.table.UpdateInt(kScRx_i, cell.rx);
}

int TakeServingCell(ModemPass& pass, const char* reply) {
  return ParseAndStore(pass, reply, ParseServingCell, StoreServingCell);
}
