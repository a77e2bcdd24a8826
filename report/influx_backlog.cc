#include "report/influx_backlog.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>

#include "base/clock.h"
#include "base/stop_event.h"
#include "report/line_protocol_check.h"

int64_t RecordTimestamp(int64_t built, int32_t builtTick, int64_t now, int32_t nowTick) {
  if (built >= kClockSetFloor) return built;
  if (now < kClockSetFloor) return 0;
  int32_t age_ms = TicksBetween(builtTick, nowTick);
  if (age_ms < 0) age_ms = 0;
  return now - age_ms / 1000;
}

bool InfluxBacklog::Reserve(size_t maxRecords, size_t maxBytes) {
  if (maxRecords == 0 || maxBytes == 0 || maxBytes > UINT32_MAX) return false;
  arena_.reset(new (std::nothrow) char[maxBytes]);
  entries_.reset(new (std::nothrow) BacklogEntry[maxRecords]);
  if (!arena_ || !entries_) {
    arena_.reset();
    entries_.reset();
    return false;
  }
  max_records_ = maxRecords;
  max_bytes_ = maxBytes;
  count_ = 0;
  used_ = 0;
  return true;
}

int InfluxBacklog::Add(const char* line, size_t length, int64_t built, int32_t builtTick) {
  while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) --length;
  if (length == 0 || length > max_bytes_) return -1;
  int dropped = 0;
  while (count_ > 0 && (count_ >= max_records_ || used_ + length > max_bytes_)) {
    RemoveThrough(entries_[0].seq);
    ++dropped;
  }
  memcpy(arena_.get() + used_, line, length);
  entries_[count_] = {static_cast<uint32_t>(used_), static_cast<uint32_t>(length), built,
                      builtTick, next_seq_++};
  ++count_;
  used_ += length;
  return dropped;
}

size_t InfluxBacklog::RemoveThrough(uint32_t seq) {
  size_t n = 0;
  // Sequence numbers wrap: compare through the difference.
  while (n < count_ && static_cast<int32_t>(seq - entries_[n].seq) >= 0) ++n;
  if (n == 0) return 0;
  const size_t cut = n == count_ ? used_ : entries_[n].offset;
  memmove(arena_.get(), arena_.get() + cut, used_ - cut);
  memmove(&entries_[0], &entries_[n], (count_ - n) * sizeof(BacklogEntry));
  count_ -= n;
  used_ -= cut;
  for (size_t i = 0; i < count_; ++i) entries_[i].offset -= static_cast<uint32_t>(cut);
  return n;
}

size_t InfluxBacklog::Format(char* out, size_t size, size_t maxRecords, int64_t now,
                             int32_t nowTick, size_t* records, uint32_t* lastSeq) const {
  size_t len = 0;
  size_t n = 0;
  if (size > 0) out[0] = '\0';
  for (; n < count_ && n < maxRecords; ++n) {
    const BacklogEntry& e = entries_[n];
    char stamp[24] = "";
    const int64_t ts = RecordTimestamp(e.built, e.builtTick, now, nowTick);
    if (ts > 0) snprintf(stamp, sizeof stamp, " %" PRId64, ts);
    const size_t stamp_len = strlen(stamp);
    if (len + e.length + stamp_len + 1 >= size) break;
    memcpy(out + len, TextOf(e), e.length);
    len += e.length;
    memcpy(out + len, stamp, stamp_len);
    len += stamp_len;
    out[len++] = '\n';
    out[len] = '\0';
    *lastSeq = e.seq;
  }
  *records = n;
  return len;
}

namespace {

// Lines between two looks at the stop event.
constexpr size_t kLinesPerStopCheck = 4096;

// One line of saved text: its record without line end and timestamp, and when it was built.
struct SavedLine {
  const char* text;
  size_t length;
  int64_t built;
  bool skip;  // empty or a comment
};

// Takes apart the line [line, eol): a trailing " <digits>" (fewer than 19) is its timestamp,
// kept as the build time when at or after kClockSetFloor (else `now`).
SavedLine ParseSavedLine(const char* line, const char* eol, int64_t now) {
  size_t len = static_cast<size_t>(eol - line);
  while (len > 0 && line[len - 1] == '\r') --len;
  SavedLine saved{line, len, now, len == 0 || line[0] == '#'};
  if (saved.skip) return saved;
  // A line-protocol record ends in " <digits>" when it carries its time; a field never does.
  size_t digits_at = len;
  while (digits_at > 0 && line[digits_at - 1] >= '0' && line[digits_at - 1] <= '9') --digits_at;
  if (digits_at < len && digits_at > 0 && line[digits_at - 1] == ' ' && len - digits_at < 19) {
    int64_t stamp = 0;
    for (size_t i = digits_at; i < len; ++i) stamp = stamp * 10 + (line[i] - '0');
    if (stamp >= kClockSetFloor) saved.built = stamp;
    saved.length = digits_at - 1;
  }
  return saved;
}

bool Stopped(const StopEvent* stop, size_t lines) {
  return stop != nullptr && lines % kLinesPerStopCheck == 0 && stop->IsSignalled();
}

}  // namespace

BacklogLoad InfluxBacklog::Load(const char* text, size_t length, int64_t now, int32_t nowTick,
                                size_t maxLine, const StopEvent* stop) {
  BacklogLoad load{};
  const char* end = text + length;
  if (length > 0 && end[-1] == '\n') --end;
  // From the newest line back: find where the records that fit begin, so that each is added once
  // and none has to make room (dropping the oldest one by one moves the whole arena each time).
  const size_t room_records = max_records_ - count_;
  const size_t room_bytes = max_bytes_ - used_;
  size_t records = 0;
  size_t bytes = 0;
  const char* first = end;  // start of the oldest line kept
  bool full = false;
  size_t lines = 0;
  for (const char* eol = end; end > text;) {
    const char* nl = static_cast<const char*>(memrchr(text, '\n', static_cast<size_t>(eol - text)));
    const char* line = nl != nullptr ? nl + 1 : text;
    if (Stopped(stop, ++lines)) {
      load.stopped = true;
      return load;
    }
    const SavedLine saved = ParseSavedLine(line, eol, now);
    if (!saved.skip) {
      if (saved.length > maxLine || !IsOneLineRecord(saved.text, saved.length)) {
        ++load.malformed;
      } else if (!full && records < room_records && bytes + saved.length <= room_bytes) {
        ++records;
        bytes += saved.length;
        first = line;
      } else {
        full = true;
        ++load.beyondBounds;
      }
    }
    if (nl == nullptr) break;
    eol = nl;
  }
  const size_t count_before = count_;
  const size_t used_before = used_;
  lines = 0;
  for (const char* line = first; line < end;) {
    const char* eol = static_cast<const char*>(memchr(line, '\n', static_cast<size_t>(end - line)));
    if (eol == nullptr) eol = end;
    if (Stopped(stop, ++lines)) {
      count_ = count_before;
      used_ = used_before;
      load = BacklogLoad{};
      load.stopped = true;
      return load;
    }
    const SavedLine saved = ParseSavedLine(line, eol, now);
    if (!saved.skip && saved.length <= maxLine && IsOneLineRecord(saved.text, saved.length)) {
      Add(saved.text, saved.length, saved.built, nowTick);
      ++load.taken;
    }
    line = eol + 1;
  }
  return load;
}
