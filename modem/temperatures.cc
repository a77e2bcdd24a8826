#include "modem/temperatures.h"

#include <cstring>

#include "exec/pattern.h"
#include "modem/channel.h"
#include "modem/modem_pass.h"
#include "modem/modem_session.h"
#include "modem/parse_and_store.h"
#include "modem/reply_rows.h"
#include "status/status_table.h"

namespace {

constexpr char kQtempCommand[] = "AT+QTEMP";
constexpr char kAtCommand[] = "AT";
constexpr char kPrefix[] = "+QTEMP: ";
constexpr int kReportRows = 16;

// Status values of the odd rows 1, 3, ..., 15, in row order.
constexpr uint32_t kReadings[kTemperatureCount] = {kTXO_i, kTCT_i, kTPA1_i, kTS0_i,
                                                   kTS1_i, kTS2_i, kTS3_i, kTS4_i};

}  // namespace

Temperatures ParseTemperatures(const char* reply) {
  Temperatures temperatures{};
  PatternArea area;
  if (TextAfterPrefix(reply, kPrefix, &area) == 0) return temperatures;
  ReplyRows rows;
  SplitReplyRows(area.output, kAtDelimiters, kMaxReplyRows, kAtRowChars, false, &rows);
  if (rows.full || rows.count != kReportRows) return temperatures;
  for (int n = 0; n < kTemperatureCount; ++n) {
    StripQuotes(rows.row[2 * n + 1], temperatures.reading[n]);
  }
  temperatures.valid = true;
  return temperatures;
}

void StoreTemperatures(ModemPass& pass, const Temperatures& temperatures) {
  for (int n = 0; n < kTemperatureCount; ++n) {
    pass.table.Update(kReadings[n], temperatures.reading[n], 0);
  }
}

int TakeTemperatures(ModemPass& pass, const char* reply) {
  return ParseAndStore(pass, reply, ParseTemperatures, StoreTemperatures);
}

// The modem sends its readings after the OK of AT+QTEMP, so they come back as the answer to the
// next command. The plain AT's answer is laid over the start of AT+QTEMP's, whose rest stays; an
// answer of less than 3 characters holds no readings.
const char* AskTemperatures(ModemPass& pass, const Collector&, AtReply* scratch) {
  SendAtCommand(pass, kQtempCommand, scratch);
  AtReply next{};
  if (SendAtCommand(pass, kAtCommand, &next) != MmAnswer::kAnswered || next.length < 3) {
    return nullptr;
  }
  memcpy(scratch->text, next.text, static_cast<size_t>(next.length));
  return scratch->text;
}
