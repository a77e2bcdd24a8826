#include "daemon/modem_access.h"

#include <cstdio>
#include <cstring>

#include "base/console_text.h"
#include "config/config_lookup.h"
#include "modem/mm_dbus.h"
#include "platform/uci_api.h"

ModemAccess ParseModemAccess(const char* text) {
  if (text[0] == '\0' || strcmp(text, "mmcli") == 0) return ModemAccess::kMmcli;
  if (strcmp(text, "dbus") == 0) return ModemAccess::kDbus;
  return ModemAccess::kUnknown;
}

ModemBus* ChooseModemAccess(struct uci_context* uci, ModemBus* bus) {
  char text[16] = "";
  struct uci_ptr ptr {};
  lookupValue("zel.status_gather.modem_access", text, uci, &ptr, sizeof text);
  switch (ParseModemAccess(text)) {
    case ModemAccess::kMmcli:
      return nullptr;
    case ModemAccess::kUnknown:
      PrintOutsideText(stdout, "modem_access '%s' is not 'mmcli' or 'dbus': using mmcli\n", text);
      return nullptr;
    case ModemAccess::kDbus:
      break;
  }
  if (!ModemBus::Built()) {
    printf("modem_access 'dbus' is not built in: using mmcli\n");
    return nullptr;
  }
  char why[256];
  if (!bus->Open(why, sizeof why)) {
    PrintOutsideText(stdout, "modem_access 'dbus': no bus (%s): using mmcli\n", why);
    return nullptr;
  }
  printf("modem_access: ModemManager over D-Bus\n");
  return bus;
}
