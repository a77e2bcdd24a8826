// The status table: 98 named text values with update and change times and the table's own
// non-recursive lock, and the update and expiry operations every collector uses.
#pragma once

#include <pthread.h>

#include <cstdint>

#include "status/status_names.h"

struct GatherContext;

constexpr int kStatusValueSize = 128;  // at most 127 characters and a terminator

struct StatusValue {
  int64_t lastUpdate;  // 0 never written, -1 expired
  int64_t lastChange;  // 0 never changed
  const char* name;    // null for index 2
  uint32_t kind;
  char value[kStatusValueSize];
  uint8_t fixed;  // 1 when the latest write was a Fixed update
  // The table's write count at the latest write: orders writes whatever the wall clock does.
  uint64_t writeSeq;
};

struct StatusTable {
  pthread_mutex_t lock;
  uint8_t echoWrites;  // every write is echoed on the console (-c)
  int64_t lastUpdate;
  int64_t lastChange;
  uint64_t writeCount;  // writes so far; each write stamps its entry's writeSeq with the new count
  StatusValue entries[kStatusCount];
};

extern StatusTable statusValues;

// Zero-fills the table, initialises the lock and seeds names and kinds. Call before any other
// thread uses the table (tests call it again to start fresh).
void StatusInit();

// Take and give back the table's lock. 1 on success, 0 on failure (with a message naming the
// mutex error on standard error).
int StatusLock(StatusTable* table);
int StatusUnlock(StatusTable* table);

// Holds the table's lock for its scope.
class StatusTableLock {
 public:
  explicit StatusTableLock(StatusTable* table) : table_(table) { StatusLock(table_); }
  ~StatusTableLock() { StatusUnlock(table_); }
  StatusTableLock(const StatusTableLock&) = delete;
  StatusTableLock& operator=(const StatusTableLock&) = delete;

 private:
  StatusTable* table_;
};

// Each returns 1 when the entry's text changed, else 0. Indexes of 98 or more are ignored.
// Timestamps of 0 mean "now".
int UpdateFixedStatus(GatherContext* ctx, uint32_t index, const char* text);
int UpdateFixedStatus_i(GatherContext* ctx, uint32_t index, int32_t value);
int UpdateVariableStatusT(GatherContext* ctx, uint32_t index, const char* text, int64_t timestamp);
int UpdateVariableStatus_i(GatherContext* ctx, uint32_t index, int32_t value);
int UpdateVariableStatus_l(GatherContext* ctx, uint32_t index, long value);
int UpdateVariableStatus_f(GatherContext* ctx, uint32_t index, float value, int64_t timestamp);
int UpdateVariableStatus_d(GatherContext* ctx, uint32_t index, double value, int64_t timestamp);

// Marks every non-empty, variable entry of `kind` expired (lastUpdate -1). Returns the result of
// the final StatusUnlock.
int ExpireStatus(GatherContext* ctx, uint32_t kind);

// Time source of the table (seconds since the epoch); tests may replace it. nullptr restores time().
using StatusClock = int64_t (*)();
void SetStatusClock(StatusClock clock);
