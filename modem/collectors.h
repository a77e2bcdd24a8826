// The steps of one modem status cycle. Each takes the daemon context and stores what it reads in
// the status table; most run one row of modem/collector_table.cc.
#pragma once

#include <cstdint>

class Board;
struct ModemPass;

// One status cycle: finds the modem and, when one is listed, runs the collector rows (the
// full-pass ones only when `reduced` is 0). Returns 0 without a modem, else `reduced` when it is
// set, else 1.
int GetModemStatus(ModemPass& pass, int reduced);

void GetModemProperties(ModemPass& pass);  // ModemManager's modem and bearer properties
void GetKxNetworkInfo(ModemPass& pass);    // /proc/net/dev counters of wwan0
int GetLTEConnectionStatus(ModemPass& pass);
// Lights the blue HPUE LED for a transmit power of 24 or more, else the green one (the dark one is
// switched first). True when both LED switches succeeded.
bool SetHpueLed(Board& board, int32_t txPower);
