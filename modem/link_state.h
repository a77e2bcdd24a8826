// The kernel's traffic counters of the LTE data interface and the LTE link state that decides
// between full and reduced passes (GetKxNetworkInfo and GetLTEConnectionStatus are declared in
// modem/collectors.h).
#pragma once

struct ModemPass;

// Stores the received and sent bytes and packets of one /proc/net/dev interface line (tokens 1, 2,
// 9 and 10 after splitting at blanks) in WWanRxBytes_i, WWanRxPkts_i, WWanTxBytes_i and
// WWanTxPkts_i. A token the line lacks is stored as empty text.
void TakeNetDevLine(ModemPass& pass, const char* line);
