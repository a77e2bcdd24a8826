// modem-statusd: gathers the router's LTE modem status and publishes it.
#include <cstdio>

#include "config/context.h"
#include "daemon/main_loop.h"
#include "base/paths.h"
#include "daemon/startup.h"
#include "modem/modem_session.h"
#include "report/influx_poster.h"

int main(int argc, char* argv[]) {
  // Other programs (and the tests) read the console through a pipe: one line at a time.
  setvbuf(stdout, nullptr, _IOLBF, 0);
  // Static: the threads keep using them until the process ends, also on an early exit.
  static GatherConfig config;
  static GatherContext ctx;
  static ModemSession modem;
  static char csvPath[kPathArgSize];
  static InfluxPoster poster;
  int status = RunStartup(argc, argv, &ctx, &config, &modem, csvPath);
  if (status >= 0) return status;
  if (ctx.influxEnabled != 0 && !poster.Start(&ctx, RouterPathOf(RouterPath::kInfluxBacklog))) {
    return 1;
  }
  return RunMainLoop(&ctx, csvPath, &poster);
}
