#include "report/json_snapshot.h"

#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "daemon/context.h"
#include "daemon/signals.h"
#include "report/modem_watchdog.h"
#include "status/status_table.h"

namespace {

constexpr size_t kPieceCap = 256;          // characters of a name or value taken
constexpr size_t kEscapedSize = kPieceCap * 6 + 1;  // every byte may become \u00XX
constexpr size_t kNumberSize = 24;         // a signed 64-bit decimal and its terminator
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

// Closes a FILE on every way out.
class FileCloser {
 public:
  explicit FileCloser(FILE* file) : file_(file) {}
  ~FileCloser() {
    if (file_ != nullptr) fclose(file_);
  }
  FileCloser(const FileCloser&) = delete;
  FileCloser& operator=(const FileCloser&) = delete;
  // Closes now; 0 when the close (and the flush before it) failed.
  int Close() {
    FILE* file = file_;
    file_ = nullptr;
    return fclose(file) == 0 ? 1 : 0;
  }

 private:
  FILE* file_;
};

// Writes the rendered text to the temporary file. 1 on success; 0 with errno set.
int WriteTempFile(FILE* file, const char* text) {
  FileCloser closer(file);
  size_t length = strlen(text);
  if (fwrite(text, 1, length, file) != length) return 0;
  return closer.Close();
}

}  // namespace

void GetJsonData(GatherContext* ctx, char* buffer, size_t size, int64_t now) {
  char* pos = buffer;
  const char* end = buffer + size;
  AppendLiteral(&pos, end, "{\"time\": ");
  AppendNumber(&pos, end, now);
  AppendLiteral(&pos, end, ",\"status\": [");
  bool first = true;
  for (const StatusValue& entry : ctx->statusTable->entries) {
    if (entry.value[0] == '\0') continue;
    if (!first) AppendLiteral(&pos, end, ",");
    first = false;
    AppendLiteral(&pos, end, "{\"name\":\"");
    AppendEscaped(&pos, end, entry.name);
    AppendLiteral(&pos, end, "\",\"value\":\"");
    AppendEscaped(&pos, end, entry.value);
    AppendLiteral(&pos, end, "\",\"lastChange\":\"");
    AppendNumber(&pos, end, entry.lastChange);
    AppendLiteral(&pos, end, "\",\"lastUpdate\":\"");
    AppendNumber(&pos, end, entry.lastUpdate);
    AppendLiteral(&pos, end, "\"}");
  }
  AppendLiteral(&pos, end, "]}");
  RunModemWatchdog(ctx);
}

JsonWriteDecision DecideJsonWrite(int64_t now, int64_t lastWrite, int64_t tableLastChange,
                                  JsonWriteGaps* gaps) {
  gaps->sinceWrite = now - lastWrite;
  gaps->sinceChange = now - tableLastChange;
  gaps->changeGap = tableLastChange - lastWrite;
  // A clock stepped back makes sinceWrite negative: read unsigned, that is a write now.
  if (static_cast<uint64_t>(gaps->sinceWrite) < static_cast<uint64_t>(kWriteEvery)) {
    return JsonWriteDecision::kNotYet1;
  }
  if (gaps->sinceWrite < kHoldBackAtMost && gaps->changeGap < 0) {
    return JsonWriteDecision::kNotYet2;
  }
  return JsonWriteDecision::kWrite;
}

void InitJsonWriter(JsonWriter* writer, GatherContext* ctx) {
  writer->ctx = ctx;
  writer->lastWrite = 0;
  snprintf(writer->tempPath, sizeof writer->tempPath, "%s.tmp", ctx->jsonFile);
}

int SaveJsonPass(JsonWriter* writer, int64_t now) {
  GatherContext* ctx = writer->ctx;
  StatusTable* table = ctx->statusTable;
  StatusLock();
  JsonWriteGaps gaps{};
  JsonWriteDecision decision = DecideJsonWrite(now, writer->lastWrite, table->lastChange, &gaps);
  if (decision == JsonWriteDecision::kNotYet1) {
    StatusUnlock();
    if (ctx->debug) {
      printf(" -- saveJson not yet 1: %" PRId64 " %" PRId64 "\n", gaps.sinceWrite,
             gaps.sinceChange);
    }
    return 0;
  }
  if (decision == JsonWriteDecision::kNotYet2) {
    StatusUnlock();
    if (ctx->debug) {
      printf(" -- saveJson not yet 2: %" PRId64 " %" PRId64 "\n", gaps.sinceWrite, gaps.changeGap);
    }
    return 0;
  }
  if (ctx->debug) {
    printf(" -- saveJson now: %" PRId64 " %" PRId64 " %" PRId64 "\n", gaps.sinceWrite,
           gaps.sinceChange, gaps.changeGap);
  }
  FILE* file = fopen(writer->tempPath, "we");
  if (file == nullptr) {
    fprintf(stderr, "Failed to write to JSON file '%s' (%s)\n", writer->tempPath, strerror(errno));
    StatusUnlock();
    return 0;
  }
  char buffer[kJsonBufferSize];
  memset(buffer, 0, sizeof buffer);
  GetJsonData(ctx, buffer, kJsonRenderSize, now);
  // A short write (a full disk) must not replace a good snapshot with a cut one.
  if (!WriteTempFile(file, buffer)) {
    fprintf(stderr, "Failed to write to JSON file '%s' (%s)\n", writer->tempPath, strerror(errno));
    StatusUnlock();
    return 0;
  }
  int replaced = 0;
  if (rename(writer->tempPath, ctx->jsonFile) != 0) {
    fprintf(stderr, "Unable to rename %s to %s: %s\n", writer->tempPath, ctx->jsonFile,
            strerror(errno));
  } else {
    table->lastChange = now;
    writer->lastWrite = now;
    replaced = 1;
  }
  StatusUnlock();
  return replaced;
}

void* saveJson(void* arg) {
  auto* ctx = static_cast<GatherContext*>(arg);
  JsonWriter writer;
  InitJsonWriter(&writer, ctx);
  while (!stopRequested) {
    sleep(1);
    const int64_t now = static_cast<int64_t>(time(nullptr));
    if (stopRequested) break;
    SaveJsonPass(&writer, now);
    fflush(stdout);
  }
  printf("Exit saveJson\n");
  fflush(stdout);
  return nullptr;
}
