#include "report/influx_poster.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

#include "base/atomic_file.h"
#include "base/clock.h"
#include "base/console_text.h"
#include "base/log.h"
#include "config/daemon_config.h"
#include "report/backlog_file.h"
#include "report/influx_post.h"
#include "status/status_table.h"

namespace {

// Room for a record's timestamp in the file: a blank, up to 19 digits and the line feed.
constexpr size_t kStampRoom = 24;

// The longest a batch waits for its oldest record to be sent: a day.
constexpr int64_t kMostBatchWaitMs = 86400000;

// How long the oldest of a batch of `batch` records may wait: `batch` record periods (a status
// cycle when records follow every cycle).
int32_t BatchWaitMs(const DaemonConfig& config, int64_t batch) {
  int64_t interval = config.period > 0 ? config.period : config.poll;
  if (interval <= 0) interval = 1;
  const int64_t ms = batch * interval * 1000;
  return static_cast<int32_t>(ms < kMostBatchWaitMs ? ms : kMostBatchWaitMs);
}

}  // namespace

bool InfluxPoster::Start(const DaemonConfig& config, StatusTable& table, bool debug,
                         const StopEvent* stop, const char* backlogPath) {
  config_ = &config;
  table_ = &table;
  snprintf(path_, sizeof path_, "%s", backlogPath);
  const size_t records = static_cast<size_t>(config.backlogRecords);
  const size_t bytes = static_cast<size_t>(config.backlogKb) * 1024;
  file_size_ = bytes + records * kStampRoom + 1;
  body_.reset(new (std::nothrow) char[kBatchBytes + 1]);
  file_text_.reset(new (std::nothrow) char[file_size_]);
  if (!body_ || !file_text_ || !backlog_.Reserve(records, bytes)) {
    LogMessageError("Influx backlog: not enough memory");
    return false;
  }
  printf("Influx backlog: at most %zu records, %zu KB\n", records, bytes / 1024);

  const int64_t batch = config.influxBatch;
  batch_ = static_cast<size_t>(batch);
  batch_wait_ms_ = BatchWaitMs(config, batch);
  InfluxRequest request;
  if (BuildInfluxRequest(config, &request)) {
    AddSecondsPrecision(&request);
    PostOptions options;
    options.caFile = config.influxCaFile;
    options.stop = &stop_;
    options.debug = debug;
    options.compress = config.influxCompress == InfluxCompress::kGzip;
    if (!link_.Open(request, options, kBatchBytes)) {
      LogMessageError("Influx poster: could not set up the connection (memory)");
      return false;
    }
    link_open_ = true;
  }

  const BacklogFileText saved = ReadBacklogFile(path_, file_text_.get(), file_size_ - 1);
  if (saved.length > 0) {
    const BacklogLoad load =
        backlog_.Load(file_text_.get(), static_cast<size_t>(saved.length), time(nullptr),
                      GetTicks(), kBatchBytes - kStampRoom, stop);
    // A load cut short by a stop keeps nothing and leaves the file as it is.
    if (!load.stopped) {
      dirty_ = true;
      printf("Influx backlog: %zu records taken up from the backlog file\n", backlog_.Count());
      dropped_new_ += static_cast<int64_t>(load.beyondBounds);
      if (saved.skipped > 0) {
        printf("Influx backlog: the first %lld bytes of the backlog file lie beyond the bounds\n",
               static_cast<long long>(saved.skipped));
      }
      if (load.malformed > 0) {
        char line[160];
        snprintf(line, sizeof line,
                 "Influx backlog: left out %zu lines of the backlog file that are no "
                 "line-protocol record",
                 load.malformed);
        LogMessageError(line);
      }
    }
  }
  if (StartThreadWithDaemonSignalsBlocked(&thread_, Run, this) != 0) {
    LogMessageError("Influx poster thread could not be started");
    return false;
  }
  started_ = true;
  return true;
}

void InfluxPoster::Submit(const char* record, size_t length, int64_t built, int32_t builtTick) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const int dropped = backlog_.Add(record, length, built, builtTick);
    dropped_new_ += dropped != 0 ? (dropped < 0 ? 1 : dropped) : 0;
    retry_waits_ = false;
  }
  wake_.notify_one();
}

void InfluxPoster::Stop() {
  if (!started_) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = 1;
  }
  wake_.notify_one();
  pthread_join(thread_, nullptr);
  started_ = false;
}

size_t InfluxPoster::Waiting() {
  std::lock_guard<std::mutex> lock(mutex_);
  return backlog_.Count();
}

void* InfluxPoster::Run(void* self) {
  static_cast<InfluxPoster*>(self)->Loop();
  return nullptr;
}

void InfluxPoster::Loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (dropped_new_ > 0) ReportDrops(&lock);
    if (stop_ != 0) break;
    int32_t wait_ms = -1;
    if (ReadyToPost(&wait_ms)) {
      PostFront(&lock);
      continue;
    }
    // Submit and Stop change what is checked under this mutex before they notify, so no wake-up
    // is lost between the check and the wait; an early wake-up only checks again.
    if (wait_ms < 0) {
      wake_.wait(lock);
    } else {
      wake_.wait_for(lock, std::chrono::milliseconds(wait_ms));
    }
  }
  if (dirty_ || backlog_.Count() > 0) SaveBacklog(&lock);
}

// True when a request should go now: records wait, no failure waits for a new record, no pause
// the server asked for is running, and the batch is full or its oldest record has waited long
// enough (records singled out after a refusal go at once). Otherwise sets *waitMs to the time
// until that changes by itself, or -1 when only a new record or a stop can change it.
bool InfluxPoster::ReadyToPost(int32_t* waitMs) {
  *waitMs = -1;
  if (backlog_.Count() == 0 || retry_waits_) return false;
  const int32_t now = GetTicks();
  if (holding_) {
    const int32_t left = TicksBetween(now, hold_until_);
    if (left > 0) {
      *waitMs = left;
      return false;
    }
    holding_ = false;
  }
  if (singles_ > 0 || backlog_.Count() >= batch_) return true;
  const int32_t age = TicksBetween(backlog_.At(0).builtTick, now);
  if (age >= batch_wait_ms_) return true;
  *waitMs = batch_wait_ms_ - age;
  return false;
}

void InfluxPoster::ReportDrops(std::unique_lock<std::mutex>* lock) {
  const int64_t dropped = dropped_new_;
  dropped_new_ = 0;
  dropped_total_ += dropped;
  const int64_t total = dropped_total_;
  lock->unlock();
  char line[160];
  snprintf(line, sizeof line,
           "Influx backlog full: dropped the %lld oldest records (%lld dropped since start)",
           static_cast<long long>(dropped), static_cast<long long>(total));
  LogMessageError(line);
  lock->lock();
}

// Sends the oldest records in one request (one record while a refused batch is singled out) and
// settles them by the outcome: sent and refused ones leave the backlog, the others stay.
void InfluxPoster::PostFront(std::unique_lock<std::mutex>* lock) {
  size_t records = 0;
  uint32_t last_seq = 0;
  const size_t length = backlog_.Format(body_.get(), kBatchBytes + 1, singles_ > 0 ? 1 : SIZE_MAX,
                                        time(nullptr), GetTicks(), &records, &last_seq);
  if (records == 0) {  // only a record from a file can be longer than a whole request
    backlog_.RemoveThrough(backlog_.At(0).seq);
    LogMessageError("Influx backlog: dropped a record longer than a request");
    return;
  }
  lock->unlock();

  PostResult result{};
  result.outcome = PostOutcome::kRetry;
  InfluxRequest unusable;
  if (link_open_) {
    link_.Post(body_.get(), length, &result);
  } else {
    BuildInfluxRequest(*config_, &unusable);  // says why nothing can be sent
  }
  const int64_t hold_s = RetryHoldSeconds(result.httpCode, result.retryAfterS);
  if (hold_s > 0) {
    char line[160];
    snprintf(line, sizeof line,
             "Influx server asked to wait: next post in %lld s (HTTP %ld, Retry-After)",
             static_cast<long long>(hold_s), result.httpCode);
    LogMessage(line);
  }
  if (result.outcome == PostOutcome::kSent) {
    table_->UpdateFixedInt(kPostDuration_i, result.durationMs);
    last_success_ = static_cast<int64_t>(time(nullptr));
  } else if (result.outcome == PostOutcome::kRefused && records == 1) {
    // The reply is escaped by the log; the record by WriteEscaped.
    char line[kReplyKeep + 64];
    snprintf(line, sizeof line, "Influx refused a record, dropped it: %s", result.reply);
    LogMessageError(line);
    const bool ends_line = length > 0 && body_[length - 1] == '\n';
    WriteEscaped(stderr, body_.get(), ends_line ? length - 1 : length);
    fputc('\n', stderr);
  } else if (result.outcome == PostOutcome::kRefused) {
    printf("Influx refused a request of %zu records: sending them one by one\n", records);
  }

  lock->lock();
  const bool settled = result.outcome == PostOutcome::kSent ||
                       (result.outcome == PostOutcome::kRefused && records == 1);
  if (settled) {
    backlog_.RemoveThrough(last_seq);
    if (singles_ > 0) --singles_;
  } else if (result.outcome == PostOutcome::kRefused) {
    singles_ = records;
  }
  retry_waits_ = result.outcome == PostOutcome::kRetry;
  if (hold_s > 0) {
    // The server said when: the next attempt goes then, without waiting for a new record.
    holding_ = true;
    hold_until_ = static_cast<int32_t>(static_cast<uint32_t>(GetTicks()) +
                                       static_cast<uint32_t>(hold_s * 1000));
    retry_waits_ = false;
  }
  const size_t waiting = backlog_.Count();
  dirty_ = dirty_ || !settled;
  lock->unlock();

  ReportPostStatusWithBacklog(result.outcome == PostOutcome::kSent ? "Success" : "Failure",
                              static_cast<int64_t>(waiting), last_success_);
  printf("Influx records waiting: %zu\n", waiting);
  fflush(stdout);
  lock->lock();
  if (dirty_) SaveBacklog(lock);
}

// Writes the whole backlog, timestamps included, as the backlog file; an empty backlog leaves an
// empty file, and the file is not written again until records are kept.
void InfluxPoster::SaveBacklog(std::unique_lock<std::mutex>* lock) {
  size_t records = 0;
  uint32_t last_seq = 0;
  const size_t length = backlog_.Format(file_text_.get(), file_size_, SIZE_MAX, time(nullptr),
                                        GetTicks(), &records, &last_seq);
  lock->unlock();
  const bool saved = ReplaceFileAtomically(path_, file_text_.get(), length) != 0;
  if (!saved) {
    fprintf(stderr, "Failed to write the Influx backlog file: %s\n", strerror(errno));
  }
  lock->lock();
  dirty_ = !saved || backlog_.Count() > 0;
}
