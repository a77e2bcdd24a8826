#include "location/gps_listener.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstdio>

#include "base/console_text.h"
#include "base/stop_event.h"
#include "location/location_update.h"

namespace {

// Pause after an error on the socket, which poll would otherwise report again at once.
constexpr int kErrorPauseMs = 200;
constexpr size_t kDatagramMax = 264;  // longer datagrams are cut to this many bytes
constexpr size_t kReceiveBufferSize = 268;

}  // namespace

void* RunGpsListenerThread(void* listener) {
  RunGpsListener(*static_cast<const GpsListener*>(listener));
  return nullptr;
}

void RunGpsListener(const GpsListener& listener) {
  const StopEvent& stop = *listener.stop;
  char buffer[kReceiveBufferSize];
  for (;;) {
    if (stop.IsSignalled()) {
      puts("Exit gpsSocketHandler");
      fflush(stdout);
      return;
    }
    struct pollfd pfds[2] = {{listener.socket, POLLIN, 0}, {stop.fd(), POLLIN, 0}};
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
    const ssize_t received = recvfrom(listener.socket, buffer, kDatagramMax, MSG_DONTWAIT,
                                      reinterpret_cast<struct sockaddr*>(&sender), &sender_length);
    if (listener.debug) {
      printf("GPS recvfrom: %d\n", static_cast<int>(received));
      fflush(stdout);
    }
    if (received <= 0) continue;
    buffer[received] = '\0';
    LocationUpdate(*listener.table, *listener.board, buffer);
    if (listener.debug) {
      PrintOutsideText(stdout, "GPS Value: '%.*s'\n", static_cast<int>(NmeaTextLength(buffer)),
                       buffer);
      fflush(stdout);
    }
  }
}
