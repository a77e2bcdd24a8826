#include "report/json_snapshot.h"

#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "base/log.h"
#include "base/signals.h"
#include "base/temp_file.h"
#include "status/status_table.h"

namespace {

constexpr size_t kPieceCap = 256;          // characters of a name or value taken
constexpr size_t kEscapedSize = kPieceCap * 6 + 1;  // every byte may become \u00XX
constexpr size_t kNumberSize = 24;         // a signed 64-bit decimal and its terminator
constexpr size_t kEntrySize = 2 * kEscapedSize + 128;  // one entry with its separator
constexpr int64_t kWriteEvery = 5;         // seconds
constexpr int64_t kHoldBackAtMost = 30;    // seconds

// Length of the valid UTF-8 sequence at `s` (at most `left` bytes), or 0 when it is not one.
size_t Utf8SequenceLength(const unsigned char* s, size_t left) {
  const unsigned char c = s[0];
  size_t n;
  unsigned char lo = 0x80, hi = 0xBF;  // bounds of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;  // no UTF-16 surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (n > left || s[1] < lo || s[1] > hi) return 0;
  for (size_t i = 2; i < n; ++i) {
    if (s[i] < 0x80 || s[i] > 0xBF) return 0;
  }
  return n;
}

// Writes `text` (`length` bytes) as the inside of a JSON string: the quote, the backslash and the
// control characters escaped, and bytes that are not UTF-8 written as \u00XX, so the document
// stays valid whatever the modem or the network put in a value. Returns the escaped length.
size_t EscapeJson(const char* text, size_t length, char* out) {
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  size_t o = 0;
  for (size_t i = 0; i < length;) {
    const unsigned char c = s[i];
    if (c == '"' || c == '\\') {
      out[o++] = '\\';
      out[o++] = static_cast<char>(c);
    } else if (c == '\n') {
      out[o++] = '\\';
      out[o++] = 'n';
    } else if (c == '\r') {
      out[o++] = '\\';
      out[o++] = 'r';
    } else if (c == '\t') {
      out[o++] = '\\';
      out[o++] = 't';
    } else if (c < 0x80 && c >= 0x20) {
      out[o++] = static_cast<char>(c);
    } else if (c >= 0x80) {
      size_t n = Utf8SequenceLength(s + i, length - i);
      if (n > 0) {
        memcpy(out + o, s + i, n);
        o += n;
        i += n;
        continue;
      }
      o += static_cast<size_t>(snprintf(out + o, 7, "\\u%04x", c));
    } else {
      o += static_cast<size_t>(snprintf(out + o, 7, "\\u%04x", c));
    }
    ++i;
  }
  out[o] = '\0';
  return o;
}

void AppendLiteral(char** pos, const char* end, const char* literal) {
  AppendText(pos, end, literal, strlen(literal));
}

void AppendEscaped(char** pos, const char* end, const char* text) {
  char escaped[kEscapedSize];
  const char* source = text != nullptr ? text : "";
  size_t length = EscapeJson(source, CappedLength(source, kPieceCap), escaped);
  AppendText(pos, end, escaped, length);
}

void AppendNumber(char** pos, const char* end, int64_t value) {
  char number[kNumberSize];
  int length = snprintf(number, sizeof number, "%" PRId64, value);
  AppendText(pos, end, number, static_cast<size_t>(length));
}

// One entry, preceded by its separator unless it is the first, into `out` (kEntrySize bytes).
// Returns its length.
size_t RenderEntry(const StatusValue& entry, bool first, char* out) {
  out[0] = '\0';
  char* pos = out;
  const char* end = out + kEntrySize;
  if (!first) AppendLiteral(&pos, end, ",");
  AppendLiteral(&pos, end, "{\"name\":\"");
  AppendEscaped(&pos, end, entry.name);
  AppendLiteral(&pos, end, "\",\"value\":\"");
  AppendEscaped(&pos, end, entry.value);
  AppendLiteral(&pos, end, "\",\"lastChange\":\"");
  AppendNumber(&pos, end, entry.lastChange);
  AppendLiteral(&pos, end, "\",\"lastUpdate\":\"");
  AppendNumber(&pos, end, entry.lastUpdate);
  AppendLiteral(&pos, end, "\"}");
  return static_cast<size_t>(pos - out);
}

// Tells once, until a render fits whole again, which entry the snapshot left out.
void ReportLeftOut(JsonWriter* writer, int leftOut) {
  if (leftOut < 0) {
    writer->leftOutReported = false;
    return;
  }
  if (writer->leftOutReported) return;
  writer->leftOutReported = true;
  char message[160];
  snprintf(message, sizeof message, "JSON snapshot too large: entries left out, the first is %s",
           kStatusNames[leftOut].name);
  LogMessageError(message);
}

}  // namespace

int GetJsonData(const StatusSnapshot& table, char* buffer, size_t size, int64_t now) {
  char* pos = buffer;
  const char* end = buffer + size;
  AppendLiteral(&pos, end, "{\"time\": ");
  AppendNumber(&pos, end, now);
  AppendLiteral(&pos, end, ",\"status\": [");
  // Entries go in whole or not at all, and always leave room for the closing "]}".
  const char* entries_end = end - 2;
  bool first = true;
  int left_out = -1;
  char entry_text[kEntrySize];
  for (int i = 0; i < static_cast<int>(kStatusCount); ++i) {
    const StatusValue& entry = table.entries[i];
    if (entry.value[0] == '\0') continue;
    const size_t length = RenderEntry(entry, first, entry_text);
    if (AppendText(&pos, entries_end, entry_text, length)) {
      first = false;
    } else if (left_out < 0) {
      left_out = i;
    }
  }
  AppendLiteral(&pos, end, "]}");
  return left_out;
}

JsonWriteDecision DecideJsonWrite(int64_t now, int64_t lastWrite, int64_t tableLastChange,
                                  JsonWriteGaps* gaps) {
  gaps->sinceWrite = now - lastWrite;
  gaps->sinceChange = now - tableLastChange;
  gaps->changeGap = tableLastChange - lastWrite;
  // A clock stepped back makes sinceWrite negative: read unsigned, that is a write now.
  if (static_cast<uint64_t>(gaps->sinceWrite) < static_cast<uint64_t>(kWriteEvery)) {
    return JsonWriteDecision::kTooSoon;
  }
  if (gaps->sinceWrite < kHoldBackAtMost && gaps->changeGap < 0) {
    return JsonWriteDecision::kClockBehind;
  }
  return JsonWriteDecision::kWrite;
}

void InitJsonWriter(JsonWriter* writer, StatusTable* table, const char* path, bool debug) {
  writer->table = table;
  writer->path = path;
  writer->debug = debug;
  writer->lastWrite = 0;
  writer->changesWritten = 0;
  writer->leftOutReported = false;
  writer->afterRender = nullptr;
  writer->afterRenderOwner = nullptr;
}

namespace {

// SaveJsonPass up to the after-render step; *rendered tells whether it rendered.
int PublishSnapshot(JsonWriter* writer, int64_t now, bool* rendered) {
  StatusSnapshot& copy = writer->copy;
  writer->table->Copy(&copy);
  // A written snapshot counts as the latest change until the table changes again.
  const int64_t last_change = writer->lastWrite != 0 && copy.changeCount == writer->changesWritten
                                  ? writer->lastWrite
                                  : copy.lastChange;
  JsonWriteGaps gaps{};
  JsonWriteDecision decision = DecideJsonWrite(now, writer->lastWrite, last_change, &gaps);
  if (decision == JsonWriteDecision::kTooSoon) {
    if (writer->debug) {
      printf(" -- saveJson not yet 1: %" PRId64 " %" PRId64 "\n", gaps.sinceWrite,
             gaps.sinceChange);
    }
    return 0;
  }
  if (decision == JsonWriteDecision::kClockBehind) {
    if (writer->debug) {
      printf(" -- saveJson not yet 2: %" PRId64 " %" PRId64 "\n", gaps.sinceWrite, gaps.changeGap);
    }
    return 0;
  }
  if (writer->debug) {
    printf(" -- saveJson now: %" PRId64 " %" PRId64 " %" PRId64 "\n", gaps.sinceWrite,
           gaps.sinceChange, gaps.changeGap);
  }
  TempFile temp;
  if (!temp.Create(writer->path)) {
    fprintf(stderr, "Failed to write to JSON file '%s' (%s)\n", temp.path(), strerror(errno));
    return 0;
  }
  char buffer[kJsonBufferSize];
  memset(buffer, 0, sizeof buffer);
  ReportLeftOut(writer, GetJsonData(copy, buffer, kJsonRenderSize, now));
  *rendered = true;
  // A short write (a full disk) must not replace a good snapshot with a cut one.
  if (!temp.Write(buffer, strlen(buffer))) {
    fprintf(stderr, "Failed to write to JSON file '%s' (%s)\n", temp.path(), strerror(errno));
    return 0;
  }
  // A failed rename removes the temporary file: its name is new on every attempt.
  if (!temp.Commit()) {
    fprintf(stderr, "Unable to rename %s to %s: %s\n", temp.path(), writer->path, strerror(errno));
    return 0;
  }
  writer->lastWrite = now;
  writer->changesWritten = copy.changeCount;
  return 1;
}

}  // namespace

int SaveJsonPass(JsonWriter* writer, int64_t now) {
  bool rendered = false;
  const int replaced = PublishSnapshot(writer, now, &rendered);
  if (rendered && writer->afterRender != nullptr) {
    writer->afterRender(writer->afterRenderOwner);
  }
  return replaced;
}

void* RunJsonWriterThread(void* arg) {
  auto* writer = static_cast<JsonWriter*>(arg);
  while (!stopRequested) {
    sleep(1);
    const int64_t now = static_cast<int64_t>(time(nullptr));
    if (stopRequested) break;
    SaveJsonPass(writer, now);
    fflush(stdout);
  }
  printf("Exit saveJson\n");
  fflush(stdout);
  return nullptr;
}
