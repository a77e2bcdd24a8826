// ModemManager reached over its D-Bus API on one bus connection kept for the daemon's life: the
// answer records are filled from the D-Bus values directly.
#pragma once

#include <cstdint>
#include <mutex>

#include "base/unique_resource.h"
#include "modem/modem_manager_link.h"

class StopEvent;

struct BusConnectionTraits {
  using Handle = void*;  // a GDBusConnection, opaque outside mm_dbus.cc
  static Handle Invalid() { return nullptr; }
  static int Release(Handle handle);
};

// Each request waits on a main context of its own, so the status cycle and the watchdog's reset
// (on the snapshot writer's thread) may ask at once. Strings are read in place, at most 128 bytes
// of each; after an answer over 256 KB the connection is dropped and made again on the next
// request, so the memory GDBus read it into goes with it.
class ModemBus : public ModemManagerLink {
 public:
  // Requests end at once when `stop` is signalled (null: never stopped).
  explicit ModemBus(const StopEvent* stop = nullptr) : stop_(stop) {}
  ModemBus(const ModemBus&) = delete;
  ModemBus& operator=(const ModemBus&) = delete;

  // False when this build has no D-Bus support (GIO was not found).
  static bool Built();

  // Connects to the bus named by DBUS_SYSTEM_BUS_ADDRESS, else the system bus. Returns false with a
  // reason in `why` when there is no bus. A connection lost later is made again on the next
  // request.
  bool Open(char* why, int whySize);

  const char* TraceName() const override { return "dbus"; }
  void List(int32_t totalLimitMs, ModemListing* listing) override;
  MmAnswer ReadModem(int32_t index, int32_t totalLimitMs, ModemProperties* properties) override;
  MmAnswer ReadBearer(int32_t index, int32_t totalLimitMs, BearerProperties* bearer) override;
  MmAnswer Command(int32_t index, const char* command, int32_t totalLimitMs,
                   AtReply* reply) override;
  MmAnswer Reset(int32_t index, int32_t totalLimitMs) override;

 private:
  friend class BusLease;
  // A reference to the open connection (made again when it was closed); the caller unrefs it.
  void* TakeConnection();
  // Lets go of `bus` when it is still the open connection: the next request connects again.
  void Forget(void* bus);

  const StopEvent* stop_;
  std::mutex mutex_;  // the watchdog's reset runs on the snapshot writer's thread
  UniqueResource<BusConnectionTraits> connection_;
};
