// What ModemManager knows about the modem: signal quality, IMEI, own number and the APN, read
// from the key-value output of `mmcli -m <index> -K` and `mmcli -b <bearer> -K`
// (GetModemProperties is declared in modem/collectors.h).
#pragma once

#include <cstddef>

struct ModemPass;

constexpr int kPropertyValueSize = 128;  // at most 127 characters of a value are taken

// Reads `mmcli -K` lines ("<key padded with blanks> : <value>") and acts on the keys of interest:
// SignalPercent_s, IMEI_s, PhoneNumber_s, and the context's initialBearerApn, bearerApn and
// bearerIndex. mmcli's "--" (no value) reads as empty. Reading stops at a line without a blank or
// without a colon after it. An IMEI, a firmware version (modem.generic.revision) or a signal
// quality above 0 notes the properties way as answered in the session's life signs.
void TakeModemKeyValues(ModemPass& pass, const char* output);

// Formats an own number: 10 characters as "ddd.ddd.dddd", 11 characters likewise after dropping
// the first (the country digit); any other length is copied unchanged after a message.
void FormatPhoneNumber(const char* value, char* destination, size_t size);
