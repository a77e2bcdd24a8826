#include "daemon/daemon.h"

#include <sys/stat.h>

#include <cstdio>

#include "base/clock.h"
#include "base/console_text.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/signals.h"
#include "base/stop_event.h"
#include "daemon/main_loop.h"
#include "daemon/modem_access.h"
#include "daemon/startup.h"
#include "modem/channel.h"
#include "modem/discovery.h"
#include "report/influx_post.h"

namespace {

// The snapshot writer runs the modem watchdog after each render.
void RunWatchdogAfterRender(void* step) {
  const auto& owner = *static_cast<const Daemon::WatchdogStep*>(step);
  RunModemWatchdog(owner.watchdog, *owner.pass);
}

}  // namespace

Daemon::Daemon(StopEvent& stop)
    : stop_(stop), links_(&stop), watchdog_{ResetModem, GetUptime, false, false, false, 0} {}

Daemon::~Daemon() { Stop(); }

int Daemon::Run(int argc, char* argv[]) {
  const Started started = Start(argc, argv);
  if (started == Started::kRun) {
    LoopParts parts{options_, config_, table_, pass_, uci_,
                    options_.influx ? &poster_ : nullptr};
    RunMainLoop(parts);
  }
  Stop();
  if (started == Started::kFailed) return 1;
  return 0;
}

Daemon::Started Daemon::Start(int argc, char* argv[]) {
  if (IsHelpRequest(argc, argv)) {
    PrintUsage(argv[0]);
    return Started::kDone;
  }
  ReloadPathRoot();
  // What the daemon creates is readable by others and writable by root only, whatever umask it
  // inherited: the snapshot 0644, the GPS socket not writable by other users.
  umask(022);
  if (!TakeInstanceLock(&lock_)) return Started::kFailed;
  InstallInterruptHandler(&stop_);

  if (!uci_.Open(RouterPathOf(RouterPath::kUciConfigDir))) {
    LogMessageError("Failed to allocate UCI context");
    return Started::kFailed;
  }
  config_ = ReadDaemonConfig(uci_);

  if (config_.influxUrl[0] != '\0') {
    options_.influx = true;
    ReportPostStatus("Starting");
  } else {
    ReportPostStatus("Disabled");
  }

  // Datagrams that arrive before the listener runs wait in the socket's queue.
  gpsSocket_.Reset(OpenGpsSocket(RouterPathOf(RouterPath::kGpsSocket)));
  if (gpsSocket_.get() < 0) return Started::kFailed;

  switch (ParseOptions(argc, argv, &options_, &config_)) {
    case OptionsResult::kUsage:
      PrintUsage(argv[0]);
      return Started::kDone;
    case OptionsResult::kRefused:
      return Started::kFailed;
    case OptionsResult::kRun:
      break;
  }

  LogMessage("Daemon starting");
  if (options_.influx) InfluxGlobalInit();

  table_.SetEcho(options_.printValues);
  pass_.printValues = options_.printValues;
  gps_.socket = gpsSocket_.get();
  gps_.table = &table_;
  gps_.stop = &stop_;
  gps_.board = &board_;
  gps_.debug = options_.debug;
  if (StartThreadWithDaemonSignalsBlocked(&gpsThread_, RunGpsListenerThread, &gps_) != 0) {
    LogMessageError("Could not start GPS listener thread");
    return Started::kFailed;
  }
  gpsStarted_ = true;

  ReadSerialNumber(table_, &config_, RouterPathOf(RouterPath::kSerialNumber), options_.debug);
  char linuxVersion[kLinuxVersionSize] = "";
  ReadLinuxVersion(linuxVersion, &stop_);
  if (options_.debug) PrintOutsideText(stdout, "Linux Version: '%s'\n", linuxVersion);
  char systemName[kSystemNameSize];
  ReadBuildInfo(table_, RouterPathOf(RouterPath::kBuildInfo), systemName);

  if (EnumerateModemDevices(pass_) < 0) {
    LogMessageError("Can't create udev");
    return Started::kFailed;
  }

  InitJsonWriter(&jsonWriter_, &table_, options_.jsonPath, options_.debug);
  jsonWriter_.afterRender = RunWatchdogAfterRender;
  jsonWriter_.afterRenderOwner = &watchdogStep_;
  if (options_.json) {
    if (StartThreadWithDaemonSignalsBlocked(&jsonThread_, RunJsonWriterThread, &jsonWriter_) != 0) {
      LogMessageError("Could not start JSON writer thread");
      return Started::kFailed;
    }
    jsonStarted_ = true;
  }
  InstallLinkSignalHandlers();

  ChooseModemWay();
  if (options_.influx && !poster_.Start(config_, table_, options_.debug, &stop_,
                                        RouterPathOf(RouterPath::kInfluxBacklog))) {
    return Started::kFailed;
  }
  return Started::kRun;
}

void Daemon::ChooseModemWay() {
  links_.Choose(config_.modemAccess);
  links_.ChooseQmi(config_.qmiAccess, session_.qmiDevice);
}

void Daemon::Stop() {
  poster_.Stop();
  links_.Close();
  if (gpsStarted_ || jsonStarted_) {
    // The threads end on the stop event and the stop flag; both are set once a stop is requested.
    stopRequested = 1;
    stop_.Signal();
  }
  if (jsonStarted_) {
    pthread_join(jsonThread_, nullptr);
    jsonStarted_ = false;
  }
  if (gpsStarted_) {
    pthread_join(gpsThread_, nullptr);
    gpsStarted_ = false;
  }
  gpsSocket_.Reset(-1);
}
