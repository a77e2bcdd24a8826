#include "daemon/modem_access.h"

#include <cstdio>

#include "base/console_text.h"
#include "daemon/daemon_context.h"
#include "modem/mm_dbus.h"

void ChooseModemAccess(GatherContext* ctx, ModemAccess access, ModemBus* bus) {
  ctx->modemBus = nullptr;
  if (access != ModemAccess::kDbus) return;
  if (!ModemBus::Built()) {
    printf("modem_access 'dbus' is not built in: using mmcli\n");
    return;
  }
  char why[256];
  if (!bus->Open(why, sizeof why)) {
    PrintOutsideText(stdout, "modem_access 'dbus': no bus (%s): using mmcli\n", why);
    return;
  }
  printf("modem_access: ModemManager over D-Bus\n");
  ctx->modemBus = bus;
}
