// The way to ModemManager chosen by zel.status_gather.modem_access: the mmcli client (default) or
// its D-Bus API on the bus connection the daemon owns.
#pragma once

#include "config/modem_access_option.h"

class ModemBus;

// For `access` kDbus opens `bus` and returns it; when that way is not built or there is no bus,
// returns null (the mmcli way) with one line saying why. Any other value: null, silently (an
// unknown configured value was said when the configuration was read).
ModemBus* ChooseModemAccess(ModemAccess access, ModemBus* bus);
