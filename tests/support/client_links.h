// The client links (mmcli, qmicli) a test's modem pass reaches the simulated router's tools
// through.
#pragma once

#include "modem/mmcli_link.h"
#include "modem/qmicli_link.h"

struct ClientLinks {
  MmcliLink mmcli{nullptr};
  QmicliLink qmicli{nullptr};
};
