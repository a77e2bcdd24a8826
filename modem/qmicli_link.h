// The modem's QMI requests through the qmicli client: each request runs `qmicli -d <device> -p
// <request>` (through exec/) and its printed text is read into the answer records.
#pragma once

#include <cstdint>

#include "modem/qmi_link.h"

class StopEvent;

constexpr int kQmicliOutputSize = 1024;

class QmicliLink : public QmiLink {
 public:
  // Runs the router's qmicli (under the root); each run ends at once when `stop` is signalled
  // (null: never stopped). Status cycle only: the client's output has one buffer.
  explicit QmicliLink(const StopEvent* stop) : stop_(stop) {}
  QmicliLink(const QmicliLink&) = delete;
  QmicliLink& operator=(const QmicliLink&) = delete;

  QmiAnswer PowerOnSim(const char* device, int32_t totalLimitMs) override;
  QmiAnswer EnableAutoconnect(const char* device, int32_t totalLimitMs) override;
  QmiAnswer ReadTxRxInfo(const char* device, int32_t totalLimitMs, TxRxInfo* info) override;
  QmiAnswer ReadCaInfo(const char* device, int32_t totalLimitMs, CaInfo* info) override;
  QmiAnswer ReadSignalInfo(const char* device, int32_t totalLimitMs, SignalInfo* info) override;

  // The client's output of the latest request, terminated (at most kQmicliOutputSize - 2
  // characters).
  const char* output() const { return output_; }

 private:
  // Prints the "QmiCmd" trace and runs the client: kNone without output, kRefused for the
  // client's own "error:" report, else kAnswered with the text in output_.
  QmiAnswer Run(const char* device, const char* request, int32_t totalLimitMs);

  const StopEvent* stop_;
  char output_[kQmicliOutputSize] = {};
};
