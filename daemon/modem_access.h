// The daemon's links to the modem: the way to ModemManager chosen by
// zel.status_gather.modem_access (the mmcli client by default, or its D-Bus API) and the qmicli
// client for QMI.
#pragma once

#include "modem/mm_dbus.h"
#include "modem/mmcli_link.h"
#include "modem/qmicli_link.h"

struct GatherContext;
class StopEvent;

enum class ModemAccess { kMmcli, kDbus, kUnknown };

// "mmcli" or empty: kMmcli; "dbus": kDbus; anything else: kUnknown.
ModemAccess ParseModemAccess(const char* text);

// Owns every link for the run; `main` hands the chosen ones to the modem steps. Every request
// ends at once when `stop` is signalled.
class ModemLinks {
 public:
  explicit ModemLinks(const StopEvent* stop) : mmcli_(stop), bus_(stop), qmicli_(stop) {}
  ModemLinks(const ModemLinks&) = delete;
  ModemLinks& operator=(const ModemLinks&) = delete;

  // Reads the option and, for 'dbus', opens the bus and chooses it. Any other outcome keeps the
  // mmcli way with one line saying why (unknown value, not built, no bus).
  void Choose(GatherContext* ctx);

  ModemManagerLink& manager() { return *manager_; }
  QmiLink& qmi() { return qmicli_; }

 private:
  MmcliLink mmcli_;
  ModemBus bus_;  // its one bus connection stays open for the whole run
  QmicliLink qmicli_;
  ModemManagerLink* manager_ = &mmcli_;
};
