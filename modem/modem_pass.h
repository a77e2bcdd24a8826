// What one modem step works on: the table it stores into, the session it carries from pass to
// pass, the way to ModemManager, and the options a pass reads.
#pragma once

#include <cstdint>

struct ModemSession;
class ModemBus;
class StatusTable;
struct uci_context;
struct uci_ptr;

// The daemon builds one for the run; tests build their own around a table and a session.
struct ModemPass {
  StatusTable& table;
  ModemSession& session;
  ModemBus* bus = nullptr;   // ModemManager over D-Bus; null: through mmcli
  bool printValues = false;  // -c: each pass starts by storing Cprint "1"
  // Where the per-pass network options are read (the LAN address, the wwan APN).
  struct uci_context* uci = nullptr;
  struct uci_ptr* uciPtr = nullptr;
};
