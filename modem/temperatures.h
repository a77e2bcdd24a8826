// The modem's temperature report (AT+QTEMP, read back through the plain AT sent after it).
#pragma once

struct GatherContext;

// Takes the reply buffer as it stands after the two commands and stores the eight readings when
// the report after "+QTEMP: " splits into exactly 16 rows. Returns 1 when stored, else 0.
int TakeTemperatures(GatherContext* ctx, const char* reply);
