#include "location/gps_listener.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <atomic>
#include <cstdio>

#include "base/console_text.h"
#include "config/context.h"
#include "base/signals.h"
#include "location/location_update.h"

namespace {

constexpr int kPollMs = 200;
constexpr int kHeldSliceMs = 50;
constexpr size_t kDatagramMax = 264;  // longer datagrams are cut to this many bytes
constexpr size_t kReceiveBufferSize = 268;

// Set by start-up once the status table is initialised; the release/acquire pair makes the
// table's initialisation visible to the listener before its first update.
std::atomic<bool> updates_allowed{false};

void SleepMs(int ms) { poll(nullptr, 0, ms); }

}  // namespace

void AllowLocationUpdates() { updates_allowed.store(true, std::memory_order_release); }

void HoldLocationUpdates() { updates_allowed.store(false, std::memory_order_release); }

void* gpsSocketHandler(void* arg) {
  GatherContext* ctx = static_cast<GatherContext*>(arg);
  char buffer[kReceiveBufferSize];
  for (;;) {
    if (stopRequested) {
      puts("Exit gpsSocketHandler");
      fflush(stdout);
      return nullptr;
    }
    // Until the table is ready, datagrams wait in the socket's queue.
    if (!updates_allowed.load(std::memory_order_acquire)) {
      SleepMs(kHeldSliceMs);
      continue;
    }
    struct pollfd pfd {};
    pfd.fd = ctx->gpsSocket;
    pfd.events = POLLIN;
    const int ready = poll(&pfd, 1, kPollMs);
    if (ready <= 0) continue;
    if ((pfd.revents & POLLIN) == 0) {
      // An error or invalid descriptor would make poll return at once: wait out the slice.
      SleepMs(kPollMs);
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
