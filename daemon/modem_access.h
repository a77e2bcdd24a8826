// The way to ModemManager chosen by zel.status_gather.modem_access: the mmcli client (default) or
// its D-Bus API on the bus connection `main` owns.
#pragma once

#include "config/modem_access_option.h"

struct GatherContext;
class ModemBus;

// For `access` kDbus opens `bus` and sets ctx->modemBus; when that way is not built or there is
// no bus, leaves the mmcli way with one line saying why.
void ChooseModemAccess(GatherContext* ctx, ModemAccess access, ModemBus* bus);
