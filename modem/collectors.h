// The steps of one modem status cycle. Each takes the daemon context and stores what it reads in
// the status table; most run one row of modem/collector_table.cc.
#pragma once

#include <cstdint>

class Board;
struct GatherContext;

int GetModemStatus(GatherContext* ctx, int onlyWhenMissing, int reduced);

void GetModemProperties(GatherContext* ctx);  // mmcli -K properties
void GetSimState(GatherContext* ctx);         // SIM state and identity
void GetIccid(GatherContext* ctx);
void GetImsi(GatherContext* ctx);
void GetModemSwVersion(GatherContext* ctx);
void GetRxTxBytes(GatherContext* ctx);        // AT data counters
void GetKxNetworkInfo(GatherContext* ctx);    // /proc/net/dev counters of wwan0
int GetLTEConnectionStatus(GatherContext* ctx);
void GetBandConfig(GatherContext* ctx);
void GetRssiBer(GatherContext* ctx);
void GetTemperatures(GatherContext* ctx);
void GetServingCellInfo(GatherContext* ctx);
// Lights the blue HPUE LED for a transmit power of 24 or more, else the green one (the dark one is
// switched first). True when both LED switches succeeded.
bool SetHpueLed(Board& board, int32_t txPower);
void GetGroupIds(GatherContext* ctx);
void GetTxRxInfo(GatherContext* ctx);         // QMI readings
void GetCAInfo(GatherContext* ctx);
void GetSignalInfo(GatherContext* ctx);
void GetHomeNetwork(GatherContext* ctx);
