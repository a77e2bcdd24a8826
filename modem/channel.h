// The modem command channel: which modem (mmcli -L), one AT command through mmcli --command,
// the modem reset, and one QMI request through qmicli.
#pragma once

#include <cstddef>
#include <cstdint>

struct ModemPass;

constexpr int kModemReplySize = 2048;

int mmcli_GetIdx(ModemPass& pass, int onlyWhenMissing);
// `command` is stored with its trailing CR and `commandSize` counts the terminating NUL
// ("AT+CSQ\r", 8). `reply` is a zero-filled buffer of kModemReplySize bytes. The first refusal
// of AT commands by ModemManager (not in debug mode) is logged once per run, naming the fix.
int modem_Send(ModemPass& pass, const char* command, int commandSize, char* reply);
// mmcli -m <index> -r: the length of the reply, or 0 when there is no usable one (index too large,
// a reply of 10 characters or less, or ModemManager's "error:").
int modem_Reset(ModemPass& pass);
// Runs qmicli on the session's QMI device; the output lands in the session's qmiResult (cleared
// first, at most kQmiResultSize - 2 characters). Returns what Zel_Exec returns.
int QmiCmd(ModemPass& pass, const char* argument, int totalLimitMs, int idleLimitMs);

// The parts of mmcli_GetIdx and modem_Send that only read the client's output.

// The modem number of an `mmcli -L` listing of len characters: none when len is 10 or less or the
// text holds "No modems"; else the fifth token (cut at blanks, slashes and line ends, in place)
// when it is a whole decimal number in 0..INT32_MAX. Returns 1 with the number in *index and the
// token in `token` (tokenSize bytes), else 0.
int ReadModemListing(char* output, int len, long* index, char* token, size_t tokenSize);

// Turns a client's output of len characters into the answer text: trailing line breaks and tabs
// off (in place), then one closing quote, then the first ten characters ("response: ") skipped.
// Copies the answer into `reply` when given (at most kModemReplySize - 1 characters, without a
// terminator: the caller's buffer is zero-filled) and returns its length, or 0 when nothing usable
// came back. Prints the "Got Result Len" trace line.
int TakeModemResponse(char* output, int len, char* reply);
