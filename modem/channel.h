// The modem command channel: which modem (mmcli -L), one AT command through mmcli --command,
// the modem reset, and one QMI request through qmicli.
#pragma once

#include <cstdint>

struct GatherContext;

constexpr int kQmiResultSize = 1024;
constexpr int kModemReplySize = 2048;

// Output of the latest QMI client call; main thread only.
extern char qmiResult[kQmiResultSize];

int mmcli_GetIdx(GatherContext* ctx, int onlyWhenMissing);
// `command` is stored with its trailing CR and `commandSize` counts the terminating NUL
// ("AT+CSQ\r", 8). `reply` is a zero-filled buffer of kModemReplySize bytes.
int modem_Send(GatherContext* ctx, const char* command, int commandSize, char* reply);
int modem_Reset(GatherContext* ctx);
int QmiCmd(GatherContext* ctx, const char* argument, int totalLimitMs, int idleLimitMs);
