// The daemon: owns its options, instance lock, configuration, status table, modem session, stop
// event and threads; starts them in that order and stops them in reverse.
#pragma once

#include <pthread.h>

#include "base/instance_lock.h"
#include "base/scoped_handles.h"
#include "config/daemon_config.h"
#include "config/uci_source.h"
#include "daemon/daemon_options.h"
#include "daemon/modem_access.h"
#include "exec/router_board.h"
#include "location/gps_listener.h"
#include "modem/modem_pass.h"
#include "modem/modem_session.h"
#include "modem/modem_watchdog.h"
#include "report/influx_poster.h"
#include "report/json_snapshot.h"
#include "status/status_table.h"

class StopEvent;

class Daemon {
 public:
  // `stop` is signalled by SIGINT from start-up on; it must outlive the daemon's threads.
  explicit Daemon(StopEvent& stop);
  ~Daemon();
  Daemon(const Daemon&) = delete;
  Daemon& operator=(const Daemon&) = delete;

  // Start-up, the polling loop until a stop is requested, and the wind-down. Returns the process
  // exit status.
  int Run(int argc, char* argv[]);

  // What the snapshot writer's after-render step, the modem watchdog, works with.
  struct WatchdogStep {
    ModemWatchdog* watchdog;
    ModemPass* pass;
  };

 private:
  enum class Started { kRun, kDone, kFailed };

  // The start-up steps up to the polling loop: kRun when the loop should run; kDone (help or usage)
  // and kFailed (after a message) end the process with status 0 and 1.
  Started Start(int argc, char* argv[]);
  // Ends the threads, the poster and the handles that were started, in reverse order.
  void Stop();
  // The ways to ModemManager and to QMI, as the configured modem_access and qmi_access choose.
  void ChooseModemWay();

  StopEvent& stop_;
  DaemonOptions options_;
  InstanceLock lock_;
  UciSource uci_;
  DaemonConfig config_{};
  StatusTable table_;
  ModemSession session_;
  // The router's LEDs, fix register and interface names; its tools are looked up on PATH here.
  RouterBoard board_{&stop_};
  ModemLinks links_;
  ModemPass pass_{table_, session_, board_, links_.manager(), links_.qmi()};
  ScopedFd gpsSocket_;
  GpsListener gps_;
  pthread_t gpsThread_{};
  bool gpsStarted_ = false;
  ModemWatchdog watchdog_;
  WatchdogStep watchdogStep_{&watchdog_, &pass_};
  JsonWriter jsonWriter_{};
  pthread_t jsonThread_{};
  bool jsonStarted_ = false;
  InfluxPoster poster_;
};
