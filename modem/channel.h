// The modem steps' requests to ModemManager, whichever link carries them: which modem, one AT
// command, the modem reset.
#pragma once

#include <cstdint>

#include "modem/modem_manager_link.h"

struct ModemPass;

// Asks for the listed modem and keeps its index in the session (-1 when none; written only when
// it changes, since the watchdog's reset reads it on the snapshot thread). 1 when one is listed.
int FindModem(ModemPass& pass);

// Sends one AT command (as the modem takes it, "AT+CSQ") to the session's modem and fills
// `reply` on kAnswered. The first refusal of every AT command by ModemManager is logged once per
// run, naming the fix.
MmAnswer SendAtCommand(ModemPass& pass, const char* command, AtReply* reply);

// Resets the session's modem: kAnswered when ModemManager took the reset.
MmAnswer ResetModem(ModemPass& pass);
