// The serving-cell engineering report (AT+QENG="servingcell") and the HPUE LED rule.
#pragma once

#include <cstdint>

struct GatherContext;

// Takes apart a serving-cell reply as modem_Send hands it over and stores the fifteen serving-cell
// values, setting the HPUE LEDs on the way. Returns 1 when the values were stored, 0 when the
// reply was refused (with the reason printed where the report calls for it).
int ParseServingCell(GatherContext* ctx, const char* reply);
