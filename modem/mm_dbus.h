// ModemManager reached over its D-Bus API with libdbus-1, each request waited for in the calling
// thread: the answer records are filled from the D-Bus values directly.
#pragma once

#include <cstdint>
#include <mutex>
#include <thread>

#include "base/unique_resource.h"
#include "modem/modem_manager_link.h"

class StopEvent;

struct BusConnectionTraits {
  using Handle = void*;  // a private DBusConnection, opaque outside mm_dbus.cc
  static Handle Invalid() { return nullptr; }
  static int Release(Handle handle);  // closes and unrefs it
};

// A request sends its call and then polls the connection's descriptor and the stop event itself,
// reading and dispatching until the reply is there, the request's limit has passed or the stop
// event fires. Two threads must never read one connection so, and a reset waiting behind a
// status-cycle request that hangs would wait for that request's whole limit: so each thread that
// asks has a connection of its own, opened when it first asks and kept (the status cycle's on the
// main thread, the watchdog's reset on the snapshot writer's thread). A third thread's request gets
// a connection for that request only. A connection found lost is made again on the next request.
// Strings are read in place, at most 128 bytes of each; after an answer over 256 KB the
// connection is dropped and made again on the next request, so the buffers libdbus read it into
// go with it.
class ModemBus : public ModemManagerLink {
 public:
  // Requests end at once when `stop` is signalled (null: never stopped).
  explicit ModemBus(const StopEvent* stop = nullptr) : stop_(stop) {}
  ModemBus(const ModemBus&) = delete;
  ModemBus& operator=(const ModemBus&) = delete;

  // False when this build has no D-Bus support (libdbus-1 was not found).
  static bool Built();

  // Connects the calling thread to the bus named by DBUS_SYSTEM_BUS_ADDRESS, else the system bus.
  // Returns false with a reason in `why` when there is no bus. A connection lost later is made
  // again on the next request.
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
  using Connection = UniqueResource<BusConnectionTraits>;
  // A connection and the thread that alone uses it.
  struct Slot {
    std::thread::id owner;
    Connection connection;
  };
  static constexpr int kSlots = 2;

  // The calling thread's slot, claimed when it has none and one is free; null when all are taken.
  Slot* SlotOfThisThread();

  const StopEvent* stop_;
  std::mutex mutex_;  // guards the slots' owners; a connection is used only by its owner
  Slot slots_[kSlots];
};
