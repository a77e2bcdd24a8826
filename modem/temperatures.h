// The modem's temperature report (AT+QTEMP, read back through the plain AT sent after it).
#pragma once

#include <cstddef>

#include "modem/modem_manager_link.h"
#include "modem/reply_rows.h"

struct Collector;
struct ModemPass;

constexpr int kTemperatureCount = 8;

// The eight readings of one report in report order (XO, CT, PA1, S0..S4), quotes stripped.
struct Temperatures {
  bool valid;  // false: the report after "+QTEMP: " did not split into exactly 16 rows
  char reading[kTemperatureCount][kStripQuotesSize];
};

// Takes apart the reply buffer as it stands after the two commands.
Temperatures ParseTemperatures(const char* reply);
// Stores the eight readings.
void StoreTemperatures(ModemPass& pass, const Temperatures& temperatures);
// ParseTemperatures and StoreTemperatures: 1 when stored, else 0.
int TakeTemperatures(ModemPass& pass, const char* reply);
// Sends AT+QTEMP and then a plain AT, the second's answer laid over the first's in `scratch`;
// the text when the second answer holds at least 3 characters, else nullptr.
const char* AskTemperatures(ModemPass& pass, const Collector& row, AtReply* scratch);
