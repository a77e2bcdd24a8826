#include "daemon/main_loop.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "base/atomic_file.h"
#include "base/clock.h"
#include "base/log.h"
#include "base/plain_file.h"
#include "base/scoped_handles.h"
#include "base/signals.h"
#include "config/network_options.h"
#include "config/daemon_config.h"
#include "daemon/record_stamp.h"
#include "modem/collectors.h"
#include "modem/discovery.h"
#include "modem/modem_pass.h"
#include "modem/modem_session.h"
#include "report/csv_record.h"
#include "report/influx_poster.h"
#include "report/influx_record.h"
#include "report/report_state.h"
#include "status/status_table.h"

namespace {

constexpr size_t kWorkBufferSize = 16384;
constexpr size_t kInfluxRenderSize = kWorkBufferSize - 2;  // the size GetInfluxData is told
static_assert(kCsvBufferSize <= kWorkBufferSize, "the CSV record shares the work buffer");

struct LoopState {
  char workBuffer[kWorkBufferSize];  // the CSV and Influx records
  StatusSnapshot copy;               // the table as the records render it
  InfluxPoster* poster = nullptr;  // sends the records; none when posting is off
  ReportState report{};
  bool pollingActive = true;
  int32_t lastPostTick = 0;
  bool csvHeaderPending = true;
  bool csvFailing = false;  // the current run of failed CSV writes was reported
};

// Takes up the link notices the handlers counted: one "Connected signal" / "Disconnected signal"
// line each (repeats suppressed by LogMessage). The signals are blocked while the counts are taken,
// so a notice arriving meanwhile is not lost. The line of the notice that came last is written
// last.
void LogLinkNotices() {
  sigset_t block, previous;
  sigemptyset(&block);
  sigaddset(&block, SIGUSR1);
  sigaddset(&block, SIGUSR2);
  pthread_sigmask(SIG_BLOCK, &block, &previous);
  int connects = connectNoticesToLog.exchange(0);
  int disconnects = disconnectNoticesToLog.exchange(0);
  const bool disconnect_last = disconnectPending != 0;
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);

  if (disconnect_last) {
    for (; connects > 0; --connects) LogMessage("Connected signal");
    for (; disconnects > 0; --disconnects) LogMessage("Disconnected signal");
  } else {
    for (; disconnects > 0; --disconnects) LogMessage("Disconnected signal");
    for (; connects > 0; --connects) LogMessage("Connected signal");
  }
}

// One second of a wait; a link or stop signal cuts it short.
void SleepOneSecond() {
  struct timespec slice = {1, 0};
  nanosleep(&slice, nullptr);
}

// Other programs read the record file: it is replaced whole, never seen empty or cut. A failure
// leaves the last good record in place and is reported once until a write succeeds again.
void WriteCsvRecord(const LoopParts& parts, LoopState* state) {
  const char* csvPath = parts.options.csvPath;
  memset(state->workBuffer, 0, kCsvBufferSize);
  parts.table.Copy(&state->copy);
  GetCSVData(state->copy, &state->report, state->workBuffer, kCsvRenderSize,
             state->csvHeaderPending ? 1 : 0);
  if (!ReplaceFileAtomically(csvPath, state->workBuffer, strlen(state->workBuffer))) {
    if (!state->csvFailing) {
      fprintf(stderr, "Failed to write to CSV file '%s' (%s)\n", csvPath, strerror(errno));
      fflush(stderr);
    }
    state->csvFailing = true;
    return;
  }
  state->csvFailing = false;
  state->csvHeaderPending = false;
}

void MaybePostInflux(const LoopParts& parts, int32_t start_tick, LoopState* state) {
  const int32_t elapsed = TicksBetween(state->lastPostTick, start_tick);
  if (static_cast<int64_t>(elapsed) < parts.config.period * 1000) return;
  // The poster thread sends the record: the loop never waits on the network.
  if (parts.options.influx) {
    memset(state->workBuffer, 0, sizeof state->workBuffer);
    const int32_t uptime = GetUptime();
    const int64_t record_time = static_cast<int64_t>(time(nullptr));
    StampInfluxRecord(parts.table, parts.config, uptime, record_time);
    parts.table.Copy(&state->copy);
    if (GetInfluxData(parts.config, state->copy, &state->report, record_time, state->workBuffer,
                      kInfluxRenderSize) != 0 &&
        state->poster != nullptr) {
      state->poster->Submit(state->workBuffer, strlen(state->workBuffer),
                            state->report.lastPostTime, GetTicks());
    }
  }
  state->lastPostTick = GetTicks();
}

// Seconds left of the poll interval that started at `start_tick`, at least 1.
int32_t RemainingWait(const DaemonConfig& config, int32_t start_tick) {
  const uint32_t poll_ms = static_cast<uint32_t>(config.poll) * 1000u;
  const int32_t remaining =
      static_cast<int32_t>(poll_ms - static_cast<uint32_t>(TicksBetween(start_tick, GetTicks())));
  return remaining < 1000 ? 1 : remaining / 1000;
}

// A status cycle: link check, full or reduced pass, CSV and Influx when the link is up. Returns
// the wait in seconds.
int32_t RunStatusCycle(const LoopParts& parts, LoopState* state) {
  parts.pass.network = ReadNetworkOptions(parts.uci);
  const int32_t start_tick = GetTicks();
  if (GetLTEConnectionStatus(parts.pass) == 0) {
    puts("LTE Connection Status is Down");
    fflush(stdout);
    GetModemStatus(parts.pass, 1);
    return 5;
  }
  puts("LTE Connection Status is OK");
  fflush(stdout);
  GetModemStatus(parts.pass, 0);
  if (stopRequested) return 1;
  if (parts.options.csv) WriteCsvRecord(parts, state);
  MaybePostInflux(parts, start_tick, state);
  return RemainingWait(parts.config, start_tick);
}

// The wait step: one-second slices until the time is up, a link notice arrives or a stop is
// requested.
void Wait(int32_t seconds, LoopState* state) {
  printf("Calling sleep for %d seconds\n", seconds);
  fflush(stdout);
  for (;;) {
    SleepOneSecond();
    --seconds;
    LogLinkNotices();
    if (stopRequested) return;
    if (connectPending) {
      connectPending = 0;
      state->pollingActive = true;
      return;
    }
    if (disconnectPending) {  // left set for the loop head
      state->pollingActive = false;
      return;
    }
    if (seconds <= 0) return;
  }
}

}  // namespace

void RunMainLoop(const LoopParts& parts) {
  LoopState state;
  state.poster = parts.poster;
  while (!stopRequested) {
    LogLinkNotices();
    int32_t pause_wait = 5;
    if (disconnectPending) {
      signal_disconnect = 1;
      disconnectPending = 0;
      pause_wait = 15;
    } else if (signal_disconnect) {
      pause_wait = 15;
    }

    int32_t wait_seconds;
    if (state.pollingActive) {
      wait_seconds = RunStatusCycle(parts, &state);
    } else {
      GetLTEConnectionStatus(parts.pass);
      parts.pass.session.qmiSetupDone = 0;
      wait_seconds = pause_wait;
    }
    if (stopRequested) break;
    Wait(wait_seconds, &state);
  }
}
