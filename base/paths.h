// The router's fixed paths, all in one place. Each is prefixed with $MODEM_STATUS_ROOT when that
// variable is set and not empty, so tests and the demo run the daemon against a simulated router.
#pragma once

enum class RouterPath {
  kMmcli,          // /usr/bin/mmcli
  kQmicli,         // /usr/bin/qmicli
  kHomeNetwork,    // /sbin/home-network.sh
  kUname,          // /bin/uname
  kSerialNumber,   // /tmp/corvane/serialNumber
  kProtocol,       // /tmp/corvane/protocol
  kLteState,       // /tmp/corvane/lte_state.json
  kGpsSocket,      // /tmp/corvane/gps.socket
  kInstanceLock,   // /tmp/corvane/modem-statusd.lock
  kPostState,      // /tmp/corvane/post_state.json
  kSnapshot,       // /tmp/corvane/modemstatus.json
  kBuildInfo,      // /etc/corvane_build_info
  kProcNetDev,     // /proc/net/dev
  kUciConfigDir,   // /etc/config
  kInfluxBacklog,  // /tmp/corvane/influx_backlog.lp
  kCount
};

// The path as the router names it, without the root.
const char* RouterPathFixed(RouterPath which);

// The path to use: the root from the environment followed by the fixed path. The text lives for
// the whole run. Paths that do not fit (root longer than ~200 characters) fall back to the fixed
// path with a message on standard error.
const char* RouterPathOf(RouterPath which);

// Reads $MODEM_STATUS_ROOT again; start-up and tests call it before any other thread exists.
void ReloadPathRoot();
