// The serving-cell engineering report (AT+QENG="servingcell") and the HPUE LED rule.
#pragma once

#include <cstdint>

struct ModemPass;

constexpr int kServingCellTextSize = 64;  // a reply row and its terminator

// The serving-cell values of one report, as the status table takes them.
struct ServingCell {
  bool valid;  // false: the reply was refused and holds nothing to store
  char mode[kServingCellTextSize];
  long cellId;  // row read as hexadecimal
  char mcc[kServingCellTextSize];
  char mnc[kServingCellTextSize];
  char physicalCellId[kServingCellTextSize];
  char earfcn[kServingCellTextSize];
  char band[kServingCellTextSize];
  const char* uplinkMhz;    // nullptr: the bandwidth code was outside 0..5, the value stays
  const char* downlinkMhz;  // likewise
  long trackingArea;        // row read as hexadecimal
  char rsrp[kServingCellTextSize];
  char rsrq[kServingCellTextSize];
  char rssi[kServingCellTextSize];
  float sinr;
  bool hasRx;  // false when the receive row starts with '-': the value stays
  int32_t rx;
};

// Takes apart a serving-cell answer as the ModemManager link hands it over; a refused reply gives
// valid false (with the reason printed where the report calls for it).
ServingCell ParseServingCell(const char* reply);
// Stores the fifteen serving-cell values in report order.
void StoreServingCell(ModemPass& pass, const ServingCell& cell);
// ParseServingCell and StoreServingCell: 1 when the values were stored, else 0.
int TakeServingCell(ModemPass& pass, const char* reply);
