#include "status/status_table.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "base/console_text.h"

namespace {

bool IsCounter(uint32_t index) {
  return index == kUpTime_i || index == kStatusTime_i || index == kPostDuration_i;
}

// Holds a pthread mutex for its scope; a failure is reported on standard error.
class MutexHold {
 public:
  explicit MutexHold(pthread_mutex_t* mutex) : mutex_(mutex) {
    const int rc = pthread_mutex_lock(mutex_);
    if (rc != 0) fprintf(stderr, "Failed to lock status mutex: %s\n", strerror(rc));
  }
  ~MutexHold() {
    const int rc = pthread_mutex_unlock(mutex_);
    if (rc != 0) fprintf(stderr, "Failed to unlock status mutex: %s\n", strerror(rc));
  }
  MutexHold(const MutexHold&) = delete;
  MutexHold& operator=(const MutexHold&) = delete;

 private:
  pthread_mutex_t* mutex_;
};

}  // namespace

int64_t SystemStatusClock() { return static_cast<int64_t>(time(nullptr)); }

StatusTable::StatusTable(StatusClock clock) : clock_(clock != nullptr ? clock : SystemStatusClock) {
  memset(&state_, 0, sizeof state_);
  pthread_mutex_init(&lock_, nullptr);
  for (uint32_t i = 0; i < kStatusCount; ++i) {
    state_.entries[i].name = kStatusNames[i].name;
    state_.entries[i].kind = kStatusNames[i].kind;
  }
}

StatusTable::~StatusTable() { pthread_mutex_destroy(&lock_); }

void StatusTable::SetEcho(bool on) {
  MutexHold hold(&lock_);
  echoRequested_ = on;
}

int StatusTable::Store(uint32_t index, const char* text, int64_t timestamp, bool fixed) {
  if (index >= kStatusCount) return 0;
  const int64_t now = clock_();
  const int64_t ts = timestamp != 0 ? timestamp : now;
  StatusValue& entry = state_.entries[index];

  MutexHold hold(&lock_);
  entry.fixed = fixed ? 1 : 0;
  if (echoWrites_) {
    PrintOutsideText(stdout, fixed ? "Fixed Value:  %s '%s'\n" : "Variable Value:  %s '%s'\n",
                     entry.name != nullptr ? entry.name : "(null)", text);
  }
  entry.lastUpdate = ts;
  entry.writeSeq = ++state_.writeCount;
  // The -c echo starts after the first store of Cprint, the first write of a status cycle.
  if (index == kCprint) echoWrites_ = echoRequested_;
  if (IsCounter(index)) {
    snprintf(entry.value, sizeof entry.value, "%s", text);
    return 0;
  }
  state_.lastUpdate = now;
  if (strcmp(entry.value, text) == 0) return 0;
  entry.lastChange = ts;
  state_.lastChange = now;
  ++state_.changeCount;
  snprintf(entry.value, sizeof entry.value, "%s", text);
  return 1;
}

int StatusTable::UpdateFixed(uint32_t index, const char* text) {
  char buf[kStatusValueSize];
  snprintf(buf, sizeof buf, "%s", text);
  return Store(index, buf, 0, true);
}

int StatusTable::UpdateFixedInt(uint32_t index, int32_t value) {
  char buf[kStatusValueSize];
  snprintf(buf, sizeof buf, "%d", value);
  return Store(index, buf, 0, true);
}

int StatusTable::Update(uint32_t index, const char* text, int64_t timestamp) {
  char buf[kStatusValueSize];
  snprintf(buf, sizeof buf, "%s", text);
  return Store(index, buf, timestamp, false);
}

int StatusTable::UpdateInt(uint32_t index, int32_t value) {
  char buf[kStatusValueSize];
  snprintf(buf, sizeof buf, "%d", value);
  return Store(index, buf, 0, false);
}

int StatusTable::UpdateLong(uint32_t index, long value) {
  char buf[kStatusValueSize];
  snprintf(buf, sizeof buf, "%ld", value);
  return Store(index, buf, 0, false);
}

int StatusTable::UpdateFloat(uint32_t index, float value, int64_t timestamp) {
  char buf[kStatusValueSize];
  snprintf(buf, sizeof buf, "%f", static_cast<double>(value));
  return Store(index, buf, timestamp, false);
}

int StatusTable::UpdateDouble(uint32_t index, double value, int64_t timestamp) {
  char buf[kStatusValueSize];
  snprintf(buf, sizeof buf, "%lf", value);
  return Store(index, buf, timestamp, false);
}

void StatusTable::Expire(StatusKind kind) {
  MutexHold hold(&lock_);
  for (StatusValue& entry : state_.entries) {
    if (entry.kind == kind && entry.fixed == 0 && entry.value[0] != '\0') entry.lastUpdate = -1;
  }
}

void StatusTable::Copy(StatusSnapshot* copy) const {
  MutexHold hold(&lock_);
  memcpy(copy, &state_, sizeof state_);
}

bool StatusTable::AnyHolds(const StatusIndex* indexes, int count) const {
  MutexHold hold(&lock_);
  for (int i = 0; i < count; ++i) {
    if (indexes[i] < kStatusCount && state_.entries[indexes[i]].value[0] != '\0') return true;
  }
  return false;
}
