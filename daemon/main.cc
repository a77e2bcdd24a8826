// modem-statusd: gathers the router's LTE modem status and publishes it.
#include <malloc.h>

#include <cstdio>

#include "base/stop_event.h"
#include "daemon/daemon.h"

int main(int argc, char* argv[]) {
#ifdef M_MMAP_THRESHOLD
  // glibc: a block of 128 KB or more always gets pages of its own, given back when it is freed.
  // Left to itself glibc raises that bound after freeing a large block, and the memory of one huge
  // answer from ModemManager then stays with the process for good. (musl always works this way.)
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
#endif
  // Other programs (and the tests) read the console through a pipe: one line at a time.
  setvbuf(stdout, nullptr, _IOLBF, 0);
  // Never destroyed: a signal handler may reach the stop event until the process ends.
  static StopEvent& stop = *new StopEvent;
  // Static: about 40 KB of buffers and the table, kept off the stack.
  static Daemon daemon(stop);
  return daemon.Run(argc, argv);
}
