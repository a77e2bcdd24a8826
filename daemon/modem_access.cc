#include "daemon/modem_access.h"

#include <cstdio>

#include "base/console_text.h"

void ModemLinks::Choose(ModemAccess access) {
  chosen_.Take(&mmcli_);
  if (access != ModemAccess::kDbus) return;
  if (!ModemBus::Built()) {
    printf("modem_access 'dbus' is not built in: using mmcli\n");
    return;
  }
  char why[256];
  if (!bus_.Open(why, sizeof why)) {
    PrintOutsideText(stdout, "modem_access 'dbus': no bus (%s): using mmcli\n", why);
    return;
  }
  printf("modem_access: ModemManager over D-Bus\n");
  chosen_.Take(&bus_);
}
