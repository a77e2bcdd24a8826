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

void ModemLinks::ChooseQmi(QmiAccess access, const char* device) {
  chosenQmi_.Take(&qmicli_);
  if (access != QmiAccess::kLibqmi) return;
  if (!QmiGlibLink::Built()) {
    printf("qmi_access 'libqmi' is not built in: using qmicli\n");
    return;
  }
  char why[256];
  if (device[0] == '\0') {
    snprintf(why, sizeof why, "no QMI device found");
  } else if (libqmi_.Open(device, kQmiOpenLimitMs, why, sizeof why)) {
    printf("qmi_access: QMI in process through qmi-proxy\n");
    chosenQmi_.Take(&libqmi_);
    return;
  }
  PrintOutsideText(stdout, "qmi_access 'libqmi': %s: using qmicli\n", why);
}
