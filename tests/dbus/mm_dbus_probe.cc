// Prints what the daemon's D-Bus way to ModemManager answers for one mmcli request, so a test can
// set it beside what the real mmcli prints:
//   mm_dbus_probe -L | -m N --command=CMD | -m N -r | -m N -K | -b N -K
// Exit 77 when the D-Bus way is not built, 2 on a usage error or without a bus.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "modem/mm_dbus.h"

int main(int argc, char* argv[]) {
  if (!ModemBus::Built()) return 77;
  ModemBus bus;
  char why[256];
  if (!bus.Open(why, sizeof why)) {
    fprintf(stderr, "no bus: %s\n", why);
    return 2;
  }
  static char out[16384];
  const int32_t limit = 2000;
  if (argc == 2 && strcmp(argv[1], "-L") == 0) {
    bus.List(limit, nullptr, out, sizeof out);
  } else if (argc == 4 && strcmp(argv[3], "-K") == 0 && strcmp(argv[1], "-m") == 0) {
    bus.ModemKeyValues(atoi(argv[2]), limit, nullptr, out, sizeof out);
  } else if (argc == 4 && strcmp(argv[3], "-K") == 0 && strcmp(argv[1], "-b") == 0) {
    bus.BearerKeyValues(atoi(argv[2]), limit, nullptr, out, sizeof out);
  } else if (argc == 4 && strcmp(argv[1], "-m") == 0 && strcmp(argv[3], "-r") == 0) {
    bus.Reset(atoi(argv[2]), limit, nullptr, out, sizeof out);
  } else if (argc == 4 && strcmp(argv[1], "-m") == 0 && strncmp(argv[3], "--command=", 10) == 0) {
    bus.Command(atoi(argv[2]), argv[3] + 10, limit, nullptr, out, sizeof out);
  } else {
    fprintf(stderr, "usage: %s -L | -m N --command=CMD | -m N -r | -m N -K | -b N -K\n", argv[0]);
    return 2;
  }
  fputs(out, stdout);
  return 0;
}
