#include "modem/qmicli_link.h"

#include <cstdio>
#include <cstring>

#include "base/console_text.h"
#include "base/paths.h"
#include "exec/program_run.h"

namespace {

char* Arg(const char* text) { return const_cast<char*>(text); }

}  // namespace

QmiAnswer QmicliLink::Run(const char* device, const char* request, int32_t totalLimitMs) {
  PrintOutsideText(stdout, "QmiCmd: %s\n", request);
  fflush(stdout);
  memset(output_, 0, sizeof output_);
  char* argv[] = {Arg("qmicli"), Arg("-d"), Arg(device), Arg("-p"), Arg(request), nullptr};
  const ProgramRun run{RouterPathOf(RouterPath::kQmicli), argv, totalLimitMs, stop_};
  if (RunProgram(run, output_, kQmicliOutputSize - 1).length <= 0) {
    return QmiAnswer::kNone;
  }
  return QmiOutputIsError(output_) ? QmiAnswer::kRefused : QmiAnswer::kAnswered;
}

QmiAnswer QmicliLink::PowerOnSim(const char* device, int32_t totalLimitMs) {
  return Run(device, "--uim-sim-power-on=1", totalLimitMs);
}

QmiAnswer QmicliLink::EnableAutoconnect(const char* device, int32_t totalLimitMs) {
  return Run(device, "--wds-set-autoconnect-settings=enabled", totalLimitMs);
}

QmiAnswer QmicliLink::ReadTxRxInfo(const char* device, int32_t totalLimitMs, TxRxInfo* info) {
  const QmiAnswer answer = Run(device, "--nas-get-tx-rx-info=lte", totalLimitMs);
  if (answer == QmiAnswer::kAnswered) *info = ParseTxRxInfo(output_);
  return answer;
}

QmiAnswer QmicliLink::ReadCaInfo(const char* device, int32_t totalLimitMs, CaInfo* info) {
  const QmiAnswer answer = Run(device, "--nas-get-lte-cphy-ca-info", totalLimitMs);
  if (answer == QmiAnswer::kAnswered) *info = ParseCaInfo(output_);
  return answer;
}

QmiAnswer QmicliLink::ReadSignalInfo(const char* device, int32_t totalLimitMs, SignalInfo* info) {
  const QmiAnswer answer = Run(device, "--nas-get-signal-info", totalLimitMs);
  // The parse echoes the report's rows on stdout.
  if (answer == QmiAnswer::kAnswered) *info = ParseSignalInfo(output_);
  return answer;
}
