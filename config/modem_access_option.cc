#include "config/modem_access_option.h"

#include <cstring>

ModemAccess ParseModemAccess(const char* text) {
  if (text[0] == '\0' || strcmp(text, "mmcli") == 0) return ModemAccess::kMmcli;
  if (strcmp(text, "dbus") == 0) return ModemAccess::kDbus;
  return ModemAccess::kUnknown;
}

QmiAccess ParseQmiAccess(const char* text) {
  if (text[0] == '\0' || strcmp(text, "qmicli") == 0) return QmiAccess::kQmicli;
  if (strcmp(text, "libqmi") == 0) return QmiAccess::kLibqmi;
  return QmiAccess::kUnknown;
}
