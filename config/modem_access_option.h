// The way to ModemManager named by zel.status_gather.modem_access.
#pragma once

enum class ModemAccess { kMmcli, kDbus, kUnknown };

// "mmcli" or empty: kMmcli; "dbus": kDbus; anything else: kUnknown.
ModemAccess ParseModemAccess(const char* text);
