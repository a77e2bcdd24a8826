// The status table: 98 named text values with update and change times behind one non-recursive
// lock, the update and expiry operations every collector uses, and the copy renderers work on.
#pragma once

#include <pthread.h>

#include <cstdint>

#include "status/status_names.h"

constexpr int kStatusValueSize = 128;  // at most 127 characters and a terminator

struct StatusValue {
  int64_t lastUpdate;  // 0 never written, -1 expired
  int64_t lastChange;  // 0 never changed
  const char* name;    // null for index 2
  StatusKind kind;
  char value[kStatusValueSize];
  uint8_t fixed;  // 1 when the latest write was a Fixed update
  // The table's write count at the latest write: orders writes whatever the wall clock does.
  uint64_t writeSeq;
};

// One consistent copy of the table, taken under its lock; renderers read it without the lock.
struct StatusSnapshot {
  int64_t lastUpdate;    // wall time of the latest write of a value that is not a counter
  int64_t lastChange;    // wall time of the latest change of a value
  uint64_t writeCount;   // writes so far
  uint64_t changeCount;  // changes so far
  StatusValue entries[kStatusCount];
};

// Time source of the table, in seconds since the epoch.
using StatusClock = int64_t (*)();
int64_t SystemStatusClock();

// The daemon creates one and hands it by reference to what writes or reads it. Every operation
// takes the lock itself; none may be called with it held.
class StatusTable {
 public:
  explicit StatusTable(StatusClock clock = SystemStatusClock);
  ~StatusTable();
  StatusTable(const StatusTable&) = delete;
  StatusTable& operator=(const StatusTable&) = delete;

  // With `on`, every write from the next store of Cprint (the first write of a status cycle) on
  // is echoed on the console (-c).
  void SetEcho(bool on);

  // Each returns 1 when the entry's text changed, else 0. Indexes of 98 or more are ignored.
  // A timestamp of 0 means "now". Texts are cut to 127 characters.
  int UpdateFixed(uint32_t index, const char* text);
  int UpdateFixedInt(uint32_t index, int32_t value);
  int Update(uint32_t index, const char* text, int64_t timestamp = 0);
  int UpdateInt(uint32_t index, int32_t value);
  int UpdateLong(uint32_t index, long value);
  int UpdateFloat(uint32_t index, float value, int64_t timestamp = 0);
  int UpdateDouble(uint32_t index, double value, int64_t timestamp = 0);

  // Marks every non-empty, variable entry of `kind` expired (lastUpdate -1).
  void Expire(StatusKind kind);

  // The whole table as it stands, copied under the lock.
  void Copy(StatusSnapshot* copy) const;

  // 1 when any of `indexes` holds a value.
  bool AnyHolds(const StatusIndex* indexes, int count) const;

 private:
  // Stores an already formatted text; the shared steps of every update operation.
  int Store(uint32_t index, const char* text, int64_t timestamp, bool fixed);

  mutable pthread_mutex_t lock_;
  StatusClock clock_;
  bool echoRequested_ = false;  // -c was given
  bool echoWrites_ = false;     // echoing has begun
  StatusSnapshot state_;
};
