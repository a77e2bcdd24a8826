// Influx records waiting to be sent, oldest first, bounded by a count and a byte size, with the
// time each was built; also their line-protocol form for a request and for the backlog file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

class StopEvent;

// Before this time (2024-01-01T00:00:00Z) the wall clock is taken as not yet set: a router without
// a battery-backed clock starts near 1970 until NTP sets it.
constexpr int64_t kClockSetFloor = 1704067200;

// The timestamp a record is sent with: its build time when the clock was set then; else, once the
// clock is set, the current time less the record's age on the monotonic clock; else 0, meaning
// no timestamp (the server's time).
int64_t RecordTimestamp(int64_t built, int32_t builtTick, int64_t now, int32_t nowTick);

// What Load did with the lines of a saved text.
struct BacklogLoad {
  size_t taken;         // records added
  size_t beyondBounds;  // records left out for room: the oldest
  size_t malformed;     // lines left out that are not one record or are too long
  bool stopped;         // the stop event ended the load: nothing was added
};

struct BacklogEntry {
  uint32_t offset;    // into the text arena
  uint32_t length;    // without a line feed
  int64_t built;      // wall time the record was built, seconds
  int32_t builtTick;  // GetTicks() when it was built
  uint32_t seq;       // increases by one per record added
};

class InfluxBacklog {
 public:
  InfluxBacklog() = default;
  InfluxBacklog(const InfluxBacklog&) = delete;
  InfluxBacklog& operator=(const InfluxBacklog&) = delete;

  // Allocates room for at most `maxRecords` records of `maxBytes` bytes of text in all, once,
  // before any record is added. False when either is 0 or the memory is not there.
  bool Reserve(size_t maxRecords, size_t maxBytes);

  // Adds one record (a single line; a final line feed is dropped), dropping the oldest records
  // until it fits. Returns the count dropped, or -1 when the record alone exceeds the byte bound
  // (it is not added). Never allocates.
  int Add(const char* line, size_t length, int64_t built, int32_t builtTick);

  size_t Count() const { return count_; }
  size_t Bytes() const { return used_; }
  const BacklogEntry& At(size_t i) const { return entries_[i]; }
  const char* TextOf(const BacklogEntry& entry) const { return arena_.get() + entry.offset; }

  // Removes the records at the front whose seq is at most `seq` (those already sent or refused).
  // Returns the count removed.
  size_t RemoveThrough(uint32_t seq);

  // Writes records from the front, each with its timestamp (RecordTimestamp) and a line feed,
  // into `out` (`size` bytes, terminated): at most `maxRecords`, as many as fit whole, but always
  // the first one when it fits at all. Sets *records and *lastSeq; returns the length written.
  size_t Format(char* out, size_t size, size_t maxRecords, int64_t now, int32_t nowTick,
                size_t* records, uint32_t* lastSeq) const;

  // Takes up saved line-protocol text, oldest line first: keeps the newest records that fit in
  // the room left by both bounds, as if they had been added one by one. A line that ends in a
  // timestamp at or after kClockSetFloor keeps it; any other counts as built at `now`. Empty and
  // comment lines are passed over; a line that is not one record (IsOneLineRecord) or longer
  // than `maxLine` bytes without its timestamp is left out. Checks `stop` (may be null) every
  // few thousand lines: once it is signalled, nothing of the text is kept. Linear in the text.
  BacklogLoad Load(const char* text, size_t length, int64_t now, int32_t nowTick,
                   size_t maxLine = SIZE_MAX, const StopEvent* stop = nullptr);

 private:
  std::unique_ptr<char[]> arena_;
  std::unique_ptr<BacklogEntry[]> entries_;
  size_t max_records_ = 0;
  size_t max_bytes_ = 0;
  size_t count_ = 0;
  size_t used_ = 0;
  uint32_t next_seq_ = 0;
};
