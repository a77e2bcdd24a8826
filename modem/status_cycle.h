// One polling pass over the modem and the router's own network state (GetModemStatus is declared
// in modem/collectors.h), and the small router readings the pass stores itself.
#pragma once

#include <cstddef>

struct ModemPass;

// The radio protocol from "/tmp/corvane/protocol": at most 31 bytes, a trailing LF or CR LF
// removed; "unknown" when the file cannot be opened. Stored in Protocol_s as a fixed value.
void StoreProtocol(ModemPass& pass);

// The IPv4 address of wwan0, when it has one, stored in PdpIpAddr_s.
void StorePdpAddress(ModemPass& pass);

// The "state" value of the LTE state file's text, copied into `state` (at most size - 1
// characters). Returns 1 when the key and a closing quote were found, else 0.
int ParseLteState(const char* text, char* state, size_t size);
