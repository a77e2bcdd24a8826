// The client links (mmcli, qmicli) a test's context reaches the simulated router's tools through.
#pragma once

#include "config/context.h"
#include "modem/mmcli_link.h"
#include "modem/qmicli_link.h"

struct ClientLinks {
  MmcliLink mmcli{nullptr};
  QmicliLink qmicli{nullptr};

  void Attach(GatherContext* ctx) {
    ctx->modemManager = &mmcli;
    ctx->qmi = &qmicli;
  }
};
