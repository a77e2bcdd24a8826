// modem-statusd: gathers the router's LTE modem status and publishes it.
#include <malloc.h>

#include <cstdio>

#include "base/clock.h"
#include "base/paths.h"
#include "base/stop_event.h"
#include "daemon/daemon_context.h"
#include "daemon/main_loop.h"
#include "daemon/modem_access.h"
#include "daemon/startup.h"
#include "modem/channel.h"
#include "modem/mm_dbus.h"
#include "modem/modem_pass.h"
#include "modem/modem_session.h"
#include "modem/modem_watchdog.h"
#include "report/influx_poster.h"
#include "report/json_snapshot.h"
#include "status/status_table.h"

namespace {

// What the watchdog needs on the snapshot writer's thread.
struct WatchdogStep {
  ModemWatchdog* watchdog;
  ModemPass* pass;
};

void RunWatchdogAfterRender(void* step) {
  const WatchdogStep& owner = *static_cast<WatchdogStep*>(step);
  RunModemWatchdog(owner.watchdog, *owner.pass);
}

}  // namespace

int main(int argc, char* argv[]) {
#ifdef M_MMAP_THRESHOLD
  // glibc: a block of 128 KB or more always gets pages of its own, given back when it is freed.
  // Left to itself glibc raises that bound after freeing a large block, and the memory of one huge
  // answer from ModemManager then stays with the process for good. (musl always works this way.)
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
  // Other programs (and the tests) read the console through a pipe: one line at a time.
  setvbuf(stdout, nullptr, _IOLBF, 0);
  // Static: the threads keep using them until the process ends, also on an early exit.
  static GatherConfig config;
  static StatusTable table;
  static GatherContext ctx;
  ctx.statusTable = &table;
  static ModemSession modem;
  static ModemPass pass{table, modem};
  static char csvPath[kPathArgSize];
  static InfluxPoster poster;
  // Never destroyed: on an early exit the helper threads may still wait on it while the process
  // ends, and its descriptor must not close under them.
  static StopEvent& stop = *new StopEvent;
  // The one bus connection of the D-Bus way to ModemManager, open for the whole run.
  static ModemBus modemBus;
  // The snapshot writer runs the modem watchdog after each render.
  static ModemWatchdog watchdog{modem_Reset, GetUptime, false, false, false, 0};
  static WatchdogStep watchdogStep{&watchdog, &pass};
  static JsonWriter jsonWriter;
  InitJsonWriter(&jsonWriter, &table, ctx.jsonFile, false);
  jsonWriter.afterRender = RunWatchdogAfterRender;
  jsonWriter.afterRenderOwner = &watchdogStep;
  int status = RunStartup(argc, argv, &ctx, &config, &modem, &pass, csvPath, &jsonWriter, &stop);
  if (status >= 0) return status;
  ChooseModemAccess(&ctx, &modemBus);
  pass.bus = ctx.modemBus;
  if (ctx.influxEnabled != 0 && !poster.Start(config, table, ctx.debug != 0, &stop,
                                              RouterPathOf(RouterPath::kInfluxBacklog))) {
    return 1;
  }
  return RunMainLoop(&ctx, csvPath, &poster);
}
