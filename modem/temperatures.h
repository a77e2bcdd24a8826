// The modem's temperature report (AT+QTEMP, read back through the plain AT sent after it).
#pragma once

struct Collector;
struct GatherContext;

// Takes the reply buffer as it stands after the two commands and stores the eight readings when
// the report after "+QTEMP: " splits into exactly 16 rows. Returns 1 when stored, else 0.
int TakeTemperatures(GatherContext* ctx, const char* reply);
// Sends AT+QTEMP and then a plain AT into `reply`; the reply when the second brought at least four
// bytes, else nullptr.
const char* AskTemperatures(GatherContext* ctx, const Collector& row, char* reply);
