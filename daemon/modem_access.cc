#include "daemon/modem_access.h"

#include <cstdio>

#include "base/console_text.h"
#include "modem/mm_dbus.h"

ModemBus* ChooseModemAccess(ModemAccess access, ModemBus* bus) {
  if (access != ModemAccess::kDbus) return nullptr;
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
