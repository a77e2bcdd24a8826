// The way to ModemManager chosen by zel.status_gather.modem_access: the mmcli client (default) or
// its D-Bus API on the bus connection `main` owns.
#pragma once

struct uci_context;
class ModemBus;

enum class ModemAccess { kMmcli, kDbus, kUnknown };

// "mmcli" or empty: kMmcli; "dbus": kDbus; anything else: kUnknown.
ModemAccess ParseModemAccess(const char* text);

// Reads the option through `uci` and, for 'dbus', opens `bus` and returns it. Any other outcome
// returns null (the mmcli way), with one line saying why (unknown value, not built, no bus).
ModemBus* ChooseModemAccess(struct uci_context* uci, ModemBus* bus);
