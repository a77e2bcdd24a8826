// ModemManager reached over its D-Bus API on one bus connection kept for the daemon's life, each
// request answered with the text mmcli prints for the same request so one set of readers serves both.
#pragma once

#include <cstdint>
#include <mutex>

#include "base/unique_resource.h"

class StopEvent;

struct BusConnectionTraits {
  using Handle = void*;  // a GDBusConnection, opaque outside mm_dbus.cc
  static Handle Invalid() { return nullptr; }
  static int Release(Handle handle);
};

// Every request is bounded by `totalLimitMs` and ends at once when `stop` is signalled (null: never
// stopped). It writes at most outputSize - 1 characters and a terminator into `output` and returns
// their number, like a client run: 0 when no answer came in time or the request was stopped.
class ModemBus {
 public:
  ModemBus() = default;
  ModemBus(const ModemBus&) = delete;
  ModemBus& operator=(const ModemBus&) = delete;

  // False when this build has no D-Bus support (GIO was not found).
  static bool Built();

  // Connects to the bus named by DBUS_SYSTEM_BUS_ADDRESS, else the system bus. Returns false with a
  // reason in `why` when there is no bus. A connection lost later is made again on the next request.
  bool Open(char* why, int whySize);

  // `mmcli -L`: one line per modem ("    <object path> [<manufacturer>] <model>") or
  // "No modems were found".
  int32_t List(int32_t totalLimitMs, const StopEvent* stop, char* output, int32_t outputSize);
  // `mmcli -m <index> --command=<command>`: "response: '<reply>'" or mmcli's error line.
  int32_t Command(int32_t index, const char* command, int32_t totalLimitMs, const StopEvent* stop,
                  char* output, int32_t outputSize);
  // `mmcli -m <index> -r`.
  int32_t Reset(int32_t index, int32_t totalLimitMs, const StopEvent* stop, char* output,
                int32_t outputSize);
  // `mmcli -m <index> -K` and `mmcli -b <index> -K`: "<key> : <value>" lines of the keys the
  // daemon reads (values escaped and "--" for none, as mmcli prints them), read fresh each time.
  int32_t ModemKeyValues(int32_t index, int32_t totalLimitMs, const StopEvent* stop, char* output,
                         int32_t outputSize);
  int32_t BearerKeyValues(int32_t index, int32_t totalLimitMs, const StopEvent* stop, char* output,
                          int32_t outputSize);

 private:
  friend class BusLease;
  // A reference to the open connection (made again when it was closed); the caller unrefs it.
  void* TakeConnection();
  // Lets go of `bus` when it is still the open connection: the next request connects again.
  void Forget(void* bus);

  std::mutex mutex_;  // the watchdog's reset runs on the snapshot writer's thread
  UniqueResource<BusConnectionTraits> connection_;
};
