#include "location/gps_listener.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <atomic>
#include <cstdio>

#include "base/console_text.h"
#include "base/stop_event.h"
#include "config/context.h"
#include "location/location_update.h"

namespace {

// Pause after an error on the socket, which poll would otherwise report again at once.
constexpr int kErrorPauseMs = 200;
constexpr int kHeldSliceMs = 50;
constexpr size_t kDatagramMax = 264;  // longer datagrams are cut to this many bytes
constexpr size_t kReceiveBufferSize = 268;

// Set by start-up once the status table is initialised; the release/acquire pair makes the
// table's initialisation visible to the listener before its first update.
std::atomic<bool> updates_allowed{false};

}  // namespace

void AllowLocationUpdates() { updates_allowed.store(true, std::memory_order_release); }

void HoldLocationUpdates() { updates_allowed.store(false, std::memory_order_release); }

void* gpsSocketHandler(void* arg) {
  GatherContext* ctx = static_cast<GatherContext*>(arg);
  RunGpsListener(ctx, *ctx->stop);
  return nullptr;
}

void RunGpsListener(GatherContext* ctx, const StopEvent& stop) {
  char buffer[kReceiveBufferSize];
  for (;;) {
    if (stop.IsSignalled()) {
      puts("Exit gpsSocketHandler");
      fflush(stdout);
      return;
    }
    // Until the table is ready, datagrams wait in the socket's queue.
    if (!updates_allowed.load(std::memory_order_acquire)) {
      stop.WaitFor(kHeldSliceMs);
      continue;
    }
    struct pollfd pfds[2] = {{ctx->gpsSocket, POLLIN, 0}, {stop.fd(), POLLIN, 0}};
    // A stop event without a descriptor can only be looked at, after each pause.
    const int ready = poll(pfds, 2, stop.valid() ? -1 : kErrorPauseMs);
    if (ready <= 0 || pfds[1].revents != 0) continue;
    if ((pfds[0].revents & POLLIN) == 0) {
      // An error or invalid descriptor would make poll return at once.
      stop.WaitFor(kErrorPauseMs);
      continue;
    }
    struct sockaddr_un sender {};
    socklen_t sender_length = sizeof sender;
    // A datagram longer than kDatagramMax is cut; the kernel drops the rest of it.
    const ssize_t received =
        recvfrom(ctx->gpsSocket, buffer, kDatagramMax, MSG_DONTWAIT,
                 reinterpret_cast<struct sockaddr*>(&sender), &sender_length);
    if (ctx->debug) {
      printf("GPS recvfrom: %d\n", static_cast<int>(received));
      fflush(stdout);
    }
    if (received <= 0) continue;
    buffer[received] = '\0';
    LocationUpdate(ctx, buffer);
    if (ctx->debug) {
      PrintOutsideText(stdout, "GPS Value: '%.*s'\n", static_cast<int>(NmeaTextLength(buffer)),
                       buffer);
      fflush(stdout);
    }
  }
}
