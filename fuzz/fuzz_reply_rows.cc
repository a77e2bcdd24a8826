// Feeds arbitrary text to the shared reply helpers: prefix search, row splitting with every
// delimiter set and limit the parsers use, the row cleaners and the number conversions. The first
// byte picks the split's settings and the prefix length; the rest is the reply.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "exec/pattern.h"
#include "fuzz/fuzz_support.h"
#include "modem/reply_rows.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  QuietStdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const unsigned choice = data[0];
  char text[2048];
  const size_t n = CopyInput(data + 1, size - 1, text, sizeof text);

  static const char* const kDelimiterSets[] = {kAtDelimiters, kQengDelimiters, kQmiDelimiters,
                                               kLineDelimiters};
  const char* delimiters = kDelimiterSets[choice & 3];
  const int limit = 1 + static_cast<int>((choice >> 2) & 63);  // 1..64
  const int row_chars = (choice & 0x80) != 0 ? kQmiRowChars : kAtRowChars;

  static PatternArea area;
  // A prefix of the reply's own first characters (up to 7), so the search finds it.
  char prefix[8] = {};
  const size_t prefix_len = (choice >> 5) < n ? (choice >> 5) : n;
  memcpy(prefix, text, prefix_len);
  const char* rest = text;
  if (prefix[0] != '\0' && TextAfterPrefix(text, prefix, &area) == 1) rest = area.output;

  ReplyRows rows;
  SplitReplyRows(rest, delimiters, limit, row_chars, (choice & 0x10) != 0, &rows);
  if (rows.count < 0 || rows.count > limit) abort();
  for (int i = 0; i < kMaxReplyRows; ++i) {
    const size_t len = strnlen(rows.row[i], kReplyRowSize);
    if (len > static_cast<size_t>(row_chars)) abort();
    if (i >= rows.count && len != 0) abort();
  }

  for (int i = 0; i < rows.count; ++i) {
    const char* row = rows.row[i];
    char number[kReplyRowSize];
    const int number_limit = 1 + (i % 12);
    ExtractNumber(row, number_limit, number);
    if (strlen(number) > static_cast<size_t>(number_limit)) abort();
    char stripped[kStripQuotesSize];
    StripQuotes(row, stripped);
    if (strlen(stripped) >= kStripQuotesSize) abort();
    char cleaned[kReplyRowSize];
    const size_t clean_size = 1 + static_cast<size_t>(i % kReplyRowSize);
    CleanQuotedText(row, cleaned, clean_size);
    if (strlen(cleaned) >= clean_size) abort();
    DecimalToInt(row);
    const long hex = HexToLong(row);
    if (hex > INT32_MAX || hex < INT32_MIN) abort();
  }
  return 0;
}
