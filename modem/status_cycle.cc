#include "modem/status_cycle.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "base/clock.h"
#include "base/console_text.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/plain_file.h"
#include "base/scoped_handles.h"
#include "base/signals.h"
#include "modem/channel.h"
#include "modem/collector_table.h"
#include "modem/collectors.h"
#include "modem/discovery.h"
#include "modem/modem_pass.h"
#include "modem/modem_session.h"
#include "platform/board.h"
#include "status/status_table.h"

namespace {

// The pass stops issuing commands once a stop was requested, so SIGINT ends the daemon promptly.
bool Stopping() { return stopRequested != 0; }

// Reads at most `limit` bytes of a router file into `buffer` (zero-filled, `limit` + 1 bytes).
// Returns the count read, or -1 when it is missing, a link or no regular file (other programs
// write its folder).
long ReadRouterFile(RouterPath which, char* buffer, size_t limit) {
  memset(buffer, 0, limit + 1);
  return ReadRegularFileInto(RouterPathOf(which), buffer, limit);
}

void StoreConnectionState(ModemPass& pass) {
  char text[128];
  if (ReadRouterFile(RouterPath::kLteState, text, sizeof text - 1) <= 0) return;
  char state[128];
  if (ParseLteState(text, state, sizeof state) != 0) {
    pass.table.Update(kConnection_s, state, 0);
  }
}

void StoreLanAddress(ModemPass& pass) {
  ShowNetworkOption(kLanIpAddrKey, pass.network.lanIpAddr);
  const char* address = pass.network.lanIpAddr.text;
  if (address[0] == '\0') {
    LogMessageError("Failed to determine LAN IP address");
    return;
  }
  if (pass.table.UpdateFixed(kLanIpAddr_s, address) != 0) {
    char message[256];
    snprintf(message, sizeof message, "LAN IP Address: %s", address);
    LogMessage(message);
  }
}

void StoreLanMac(ModemPass& pass) {
  char mac[256] = "";
  if (GetMacAddress(pass.board.LanInterface(), mac) != 0) pass.table.UpdateFixed(kLanMacAddr_s, mac);
}

}  // namespace

void StorePdpAddress(ModemPass& pass) {
  ScopedFd sock(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (sock.get() < 0) return;
  struct ifreq request;
  memset(&request, 0, sizeof request);
  snprintf(request.ifr_name, IFNAMSIZ, "%s", pass.board.WwanInterface());
  if (ioctl(sock.get(), SIOCGIFADDR, &request) == 0) {
    struct sockaddr_in address;
    memcpy(&address, &request.ifr_addr, sizeof address);
    if (address.sin_addr.s_addr != 0) {
      char text[INET_ADDRSTRLEN] = "";
      if (inet_ntop(AF_INET, &address.sin_addr, text, sizeof text) != nullptr) {
        pass.table.Update(kPdpIpAddr_s, text, 0);
      }
    }
  }
}

void StoreProtocol(ModemPass& pass) {
  char protocol[32];
  long n = ReadRouterFile(RouterPath::kProtocol, protocol, sizeof protocol - 1);
  if (n < 0) {
    pass.table.UpdateFixed(kProtocol_s, "unknown");
    return;
  }
  // The file is written with echo: its line end is not part of the value.
  size_t len = strlen(protocol);
  if (len > 0 && protocol[len - 1] == '\n') protocol[--len] = '\0';
  if (len > 0 && protocol[len - 1] == '\r') protocol[--len] = '\0';
  pass.table.UpdateFixed(kProtocol_s, protocol);
}

int ParseLteState(const char* text, char* state, size_t size) {
  static const char kKey[] = "\"state\": \"";
  const char* start = strstr(text, kKey);
  if (start == nullptr) return 0;
  start += sizeof kKey - 1;
  const char* end = strchr(start, '"');
  if (end == nullptr) return 0;
  snprintf(state, size, "%.*s", static_cast<int>(end - start), start);
  return 1;
}

int GetModemStatus(ModemPass& pass, int reduced) {
  if (pass.printValues) pass.table.Update(kCprint, "1", 0);
  pass.table.UpdateLong(kUpTime_i, static_cast<long>(GetUptime()));
  char now[24];
  snprintf(now, sizeof now, "%" PRId64, static_cast<int64_t>(time(nullptr)));
  pass.table.Update(kStatusTime_i, now, 0);

  int result = 0;
  if (!Stopping()) {
    const int found = FindModem(pass);
    if (found == 0) {
      if (pass.session.atDevice[0] != '\0')
        PrintOutsideText(stderr, "Error opening modem: '%s'\n", pass.session.atDevice);
    } else {
      result = reduced != 0 ? reduced : found;
      RunModemCollectors(pass, reduced);
      // A pass cut short by a stop has not asked on every way.
      if (!Stopping()) pass.session.lifeSigns.NoteAsked();
    }
  }

  StoreConnectionState(pass);
  StoreLanAddress(pass);
  StoreLanMac(pass);
  return result;
}
