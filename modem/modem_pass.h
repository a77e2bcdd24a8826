// What one modem step works on: the table it stores into, the session it carries from pass to
// pass, the router's board, the links to ModemManager and to QMI, and the options a pass reads.
#pragma once

#include <cstdint>

#include "config/network_options.h"

struct ModemSession;
class Board;
class ModemManagerLink;
class QmiLink;
class StatusTable;

// The daemon builds one for the run; tests build their own around a table and a session.
struct ModemPass {
  StatusTable& table;
  ModemSession& session;
  Board& board;              // the HPUE LEDs and the interface names
  ModemManagerLink& manager;  // the mmcli client or the D-Bus API
  QmiLink& qmi;               // the qmicli client (or libqmi-glib)
  bool printValues = false;  // -c: each pass starts by storing Cprint "1"
  // The network options of this pass (the LAN address, the wwan APN), read by the main loop
  // before each pass; none found until then.
  NetworkOptions network{};
};
