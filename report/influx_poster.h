// The poster thread: sends the Influx records the main loop hands over, oldest first, and keeps
// those that could not be sent in a bounded backlog mirrored to a line-protocol file.
#pragma once

#include <pthread.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "base/signals.h"
#include "report/influx_backlog.h"
#include "report/influx_post.h"

struct DaemonConfig;
class StatusTable;
class StopEvent;

// Most bytes of records in one request.
constexpr size_t kBatchBytes = 65536;

class InfluxPoster {
 public:
  InfluxPoster() = default;
  ~InfluxPoster() { Stop(); }
  InfluxPoster(const InfluxPoster&) = delete;
  InfluxPoster& operator=(const InfluxPoster&) = delete;

  // Reserves the backlog (bounds from `config`), sets up the connection to the server (kept for
  // the run) and the compression, takes up the records of the file at `backlogPath` and starts
  // the thread, which stores each post's duration in `table`. A signalled `stop` cuts the
  // taking up short (null: never). False (after a message) when memory or the thread could not
  // be had. `config` and `table` must outlive the poster.
  bool Start(const DaemonConfig& config, StatusTable& table, bool debug, const StopEvent* stop,
             const char* backlogPath);

  // Hands over a record built at wall time `built` and tick `builtTick`; never waits for a post
  // and never allocates. When the backlog is full the oldest records make room.
  void Submit(const char* record, size_t length, int64_t built, int32_t builtTick);

  // Ends the thread: a post in progress ends within about a second; the backlog file is written.
  void Stop();

  // Records waiting (tests).
  size_t Waiting();

 private:
  static void* Run(void* self);
  void Loop();
  bool ReadyToPost(int32_t* waitMs);
  void PostFront(std::unique_lock<std::mutex>* lock);
  void SaveBacklog(std::unique_lock<std::mutex>* lock);
  void ReportDrops(std::unique_lock<std::mutex>* lock);

  const DaemonConfig* config_ = nullptr;
  StatusTable* table_ = nullptr;
  char path_[256] = "";
  pthread_t thread_{};
  bool started_ = false;
  SignalFlag stop_{0};

  std::mutex mutex_;
  std::condition_variable wake_;
  InfluxBacklog backlog_;       // guarded by mutex_
  bool retry_waits_ = false;    // after a failure, the next attempt waits for a new record
  int64_t dropped_new_ = 0;     // dropped for room, not yet reported
  int64_t dropped_total_ = 0;

  // Owned by the thread (set up by Start).
  InfluxLink link_;
  bool link_open_ = false;      // false: the request could not be built; each post says why
  size_t batch_ = 1;            // records waiting before a request goes (influx_batch)
  int32_t batch_wait_ms_ = 0;   // ... or the oldest has waited this long
  bool holding_ = false;        // the server asked for a pause (Retry-After) until hold_until_
  int32_t hold_until_ = 0;      // GetTicks() time
  std::unique_ptr<char[]> body_;
  std::unique_ptr<char[]> file_text_;
  size_t file_size_ = 0;
  size_t singles_ = 0;          // records to send one per request, to single out a refused one
  bool dirty_ = false;          // the file lags behind the backlog
  int64_t last_success_ = 0;
};
