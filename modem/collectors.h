// The steps of one modem status cycle. Each takes the daemon context and stores what it reads in
// the status table; most run one row of modem/collector_table.cc.
#pragma once

#include <cstdint>

struct ModemPass;

int GetModemStatus(ModemPass& pass, int onlyWhenMissing, int reduced);

void GetModemProperties(ModemPass& pass);  // mmcli -K properties
void GetSimState(ModemPass& pass);         // SIM state and identity
void GetIccid(ModemPass& pass);
void GetImsi(ModemPass& pass);
void GetModemSwVersion(ModemPass& pass);
void GetRxTxBytes(ModemPass& pass);      // AT data counters
void GetKxNetworkInfo(ModemPass& pass);  // /proc/net/dev counters of wwan0
int GetLTEConnectionStatus(ModemPass& pass);
void GetBandConfig(ModemPass& pass);
void GetRssiBer(ModemPass& pass);
void GetTemperatures(ModemPass& pass);
void GetServingCellInfo(ModemPass& pass);
// Lights the blue HPUE LED for a transmit power of 24 or more, else the green one (the dark one is
// switched first); returns the result of the second LED command.
int SetHpueLed(int32_t txPower);
void GetGroupIds(ModemPass& pass);
void GetTxRxInfo(ModemPass& pass);  // QMI readings
void GetCAInfo(ModemPass& pass);
void GetSignalInfo(ModemPass& pass);
void GetHomeNetwork(ModemPass& pass);
