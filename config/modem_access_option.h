// The ways to the modem named by zel.status_gather.modem_access (ModemManager) and qmi_access
// (QMI).
#pragma once

enum class ModemAccess { kMmcli, kDbus, kUnknown };

// "mmcli" or empty: kMmcli; "dbus": kDbus; anything else: kUnknown.
ModemAccess ParseModemAccess(const char* text);

enum class QmiAccess { kQmicli, kLibqmi, kUnknown };

// "qmicli" or empty: kQmicli; "libqmi": kLibqmi; anything else: kUnknown.
QmiAccess ParseQmiAccess(const char* text);
