// The modem's QMI requests with typed answers, whichever way they travel (the qmicli client, or
// libqmi-glib in the daemon's own process).
#pragma once

#include <cstdint>

#include "modem/qmi_readings.h"

// How a QMI request ended.
enum class QmiAnswer : uint8_t {
  kAnswered,  // the modem answered; a record, when the request has one, holds what it said
  kRefused,   // an error answer (a QMI error status, or the client's own "error:" report)
  kNone,      // no answer: could not start, timed out, stopped, device or proxy not there
};

// Each request goes to the QMI device `device` (the session's), is bounded by `totalLimitMs` and
// ends at once when the link's stop event is signalled. A record is filled only on kAnswered (its
// `valid` still says whether the answer held the values).
class QmiLink {
 public:
  virtual ~QmiLink() = default;

  virtual QmiAnswer PowerOnSim(const char* device, int32_t totalLimitMs) = 0;
  virtual QmiAnswer EnableAutoconnect(const char* device, int32_t totalLimitMs) = 0;
  virtual QmiAnswer ReadTxRxInfo(const char* device, int32_t totalLimitMs, TxRxInfo* info) = 0;
  virtual QmiAnswer ReadCaInfo(const char* device, int32_t totalLimitMs, CaInfo* info) = 0;
  virtual QmiAnswer ReadSignalInfo(const char* device, int32_t totalLimitMs, SignalInfo* info) = 0;
};
