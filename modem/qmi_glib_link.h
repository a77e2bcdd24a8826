// The modem's QMI requests sent in the daemon's own process with libqmi-glib, through qmi-proxy,
// on one device and one set of client ids kept between requests.
#pragma once

#include <cstdint>

#include "base/clock.h"
#include "base/unique_resource.h"
#include "modem/modem_session.h"
#include "modem/qmi_link.h"

class StopEvent;

// Opaque libqmi and GLib handles, released in qmi_glib_link.cc.
struct QmiGObjectTraits {
  using Handle = void*;
  static Handle Invalid() { return nullptr; }
  static int Release(Handle handle);
};
struct QmiContextTraits {
  using Handle = void*;  // a GMainContext
  static Handle Invalid() { return nullptr; }
  static int Release(Handle handle);
};

// The device is opened with the first request and opened again when a request names another
// device, or after the proxy or the device went away. The NAS, UIM and WDS client ids are
// allocated once, at their first request, and released by Close (and the destructor). Every
// request waits on a main context of the link's own, so it needs no main loop, and ends at its
// total limit or at once when `stop` is signalled. Answers are turned into the text qmicli prints
// for them and read by the same parsers, so both ways fill identical records. Not thread-safe:
// one thread makes the requests.
class QmiGlibLink : public QmiLink {
 public:
  explicit QmiGlibLink(const StopEvent* stop);
  ~QmiGlibLink() override;
  QmiGlibLink(const QmiGlibLink&) = delete;
  QmiGlibLink& operator=(const QmiGlibLink&) = delete;

  // False when this build has no libqmi-glib.
  static bool Built();

  // Opens `device` now (a request would open it too), within `totalLimitMs`. Returns false with
  // the reason in `why` when the device cannot be opened.
  bool Open(const char* device, int32_t totalLimitMs, char* why, int whySize);
  // Releases the client ids (each within a short limit, also after a stop) and closes the device.
  void Close();

  QmiAnswer PowerOnSim(const char* device, int32_t totalLimitMs) override;
  QmiAnswer EnableAutoconnect(const char* device, int32_t totalLimitMs) override;
  QmiAnswer ReadTxRxInfo(const char* device, int32_t totalLimitMs, TxRxInfo* info) override;
  QmiAnswer ReadCaInfo(const char* device, int32_t totalLimitMs, CaInfo* info) override;
  QmiAnswer ReadSignalInfo(const char* device, int32_t totalLimitMs, SignalInfo* info) override;

  // Why the latest request had no answer ("" after an answer).
  const char* problem() const { return problem_; }

  // Client slots, in the order of the services.
  enum Service : uint8_t { kNas, kUim, kWds, kServiceCount };

 private:
  // The open device for `device`, opened now when needed; null with problem_ set.
  void* Device(const char* device, const Deadline& deadline);
  // The client of `service` on the open device, allocated now when needed.
  void* Client(Service service, const Deadline& deadline);
  // Device and Client for one request; clears problem_.
  void* Ready(const char* device, Service service, const Deadline& deadline);
  // Forgets the device and its clients; `release` first gives the client ids back.
  void Drop(bool release);
  // Records why a request had no answer; a failure other than a stop or the time limit also
  // marks the device lost, to be opened again. Returns kNone.
  QmiAnswer NoAnswer(const char* message, bool stopped, bool timedOut);
  // Records an error answer; `forgotten`: the modem no longer knows the client id, and the
  // client is dropped. Returns kRefused.
  QmiAnswer Refused(const char* message, Service service, bool forgotten);
  void SetProblem(const char* format, ...) __attribute__((format(printf, 2, 3)));

  const StopEvent* stop_;
  UniqueResource<QmiContextTraits> context_;
  UniqueResource<QmiGObjectTraits> device_;
  UniqueResource<QmiGObjectTraits> clients_[kServiceCount];
  char path_[kDevicePathSize] = {};
  bool lost_ = false;  // set by the device's "removed" signal
  char problem_[160] = {};
  char text_[kQmiResultSize] = {};  // the answer as qmicli prints it
};
