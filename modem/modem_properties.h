// What ModemManager knows about the modem: signal quality, IMEI, own number and the APN, read
// through the ModemManager link (GetModemProperties is declared in modem/collectors.h).
#pragma once

#include <cstddef>

#include "modem/modem_manager_link.h"

struct ModemPass;

// Stores the properties of interest, each when ModemManager reported it: SignalPercent_s,
// PhoneNumber_s, IMEI_s, and the session's initialBearerApn and bearerIndex; each stored one is
// echoed ("Key: '<key>' Value: '<value>'"). An IMEI, a firmware version or a signal quality above
// 0 notes the properties way as answered in the session's life signs.
void StoreModemProperties(ModemPass& pass, const ModemProperties& properties);
// Keeps the bearer's APN in the session's bearerApn.
void StoreBearerProperties(ModemPass& pass, const BearerProperties& bearer);

// Formats an own number: 10 characters as "ddd.ddd.dddd", 11 characters likewise after dropping
// the first (the country digit); any other length is copied unchanged after a message.
void FormatPhoneNumber(const char* value, char* destination, size_t size);
