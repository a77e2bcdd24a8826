#include "modem/reply_rows.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/console_text.h"

namespace {

long Clamp32(long long value) {
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<long>(value);
}

}  // namespace

int TextAfterPrefix(const char* reply, const char* prefix, PatternArea* area) {
  memset(area, 0, sizeof *area);
  strncpy(area->input, reply, sizeof area->input - 1);
  strncpy(area->pattern, prefix, sizeof area->pattern - 1);
  return GetAfterPattern(area) == 1 ? 1 : 0;
}

void SplitReplyRows(const char* text, const char* delimiters, int limit, int rowChars, bool echo,
                    ReplyRows* rows) {
  memset(rows, 0, sizeof *rows);
  if (limit > kMaxReplyRows) limit = kMaxReplyRows;
  if (rowChars >= kReplyRowSize) rowChars = kReplyRowSize - 1;
  const char* p = text;
  for (;;) {
    p += strspn(p, delimiters);
    if (*p == '\0') return;
    const size_t length = strcspn(p, delimiters);
    if (rows->count == limit) {
      rows->full = true;
      return;
    }
    const size_t kept = length < static_cast<size_t>(rowChars) ? length : rowChars;
    memcpy(rows->row[rows->count], p, kept);
    if (echo) {
      PrintOutsideText(stdout, "Row: %d, %.*s\n", rows->count, static_cast<int>(length), p);
    }
    ++rows->count;
    p += length;
  }
}

void ExtractNumber(const char* row, int limit, char* out) {
  memset(out, 0, static_cast<size_t>(limit) + 1);
  int taken = 0;
  bool digit_seen = false;
  for (const char* p = row; *p != '\0' && taken < limit; ++p) {
    const char c = *p;
    if (c >= '0' && c <= '9') {
      out[taken++] = c;
      digit_seen = true;
    } else if (c == '-' || c == '.') {
      out[taken++] = c;
    } else if (digit_seen) {
      break;
    }
  }
}

void CleanQuotedText(const char* row, char* out, size_t outSize) {
  if (outSize == 0) return;
  memset(out, 0, outSize);
  size_t taken = 0;
  char quote = '\0';
  for (const char* p = row; *p != '\0' && taken + 1 < outSize; ++p) {
    const char c = *p;
    if (quote == '\0') {
      if (c == ' ') continue;
      if (c == '"' || c == '\'') {
        quote = c;
        continue;
      }
      out[taken++] = c;
    } else {
      if (c == quote) break;
      out[taken++] = c;
    }
  }
}

void StripQuotes(const char* row, char* out) {
  memset(out, 0, kStripQuotesSize);
  const size_t length = strlen(row);
  if (length < 1 || length >= kStripQuotesSize) return;
  CleanQuotedText(row, out, kStripQuotesSize);
}

int DecimalToInt(const char* text) {
  return static_cast<int>(Clamp32(strtoll(text, nullptr, 10)));
}

long HexToLong(const char* text) { return Clamp32(strtoll(text, nullptr, 16)); }
