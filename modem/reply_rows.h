// Taking a modem reply apart: the text after a reply's prefix, its rows, the row cleaners and the
// number conversions the AT and QMI parsers share.
#pragma once

#include <cstddef>

#include "exec/pattern.h"

constexpr int kMaxReplyRows = 64;
constexpr int kReplyRowSize = 64;       // a row text and its terminator
constexpr int kAtRowChars = 63;         // AT reply rows keep their first 63 characters
constexpr int kQmiRowChars = 62;        // QMI and script output rows keep their first 62
constexpr size_t kStripQuotesSize = 6;  // StripQuotes result: 5 characters and a terminator

// Delimiter sets of the parsers.
constexpr const char* kAtDelimiters = ",\r\n";
constexpr const char* kQengDelimiters = "\",\r\n";
constexpr const char* kQmiDelimiters = ":,\r\n";
constexpr const char* kLineDelimiters = "\n";

struct ReplyRows {
  char row[kMaxReplyRows][kReplyRowSize];  // rows past `count` are empty texts
  int count;                               // rows stored
  bool full;  // a piece arrived after the table was full; it was dropped and splitting ended
};

// Zero-fills `area`, copies at most 2047 characters of `reply` into its input and locates the
// first occurrence of `prefix` with GetAfterPattern. Returns 1 when text follows the prefix (it is
// then in area->output, terminated), else 0.
int TextAfterPrefix(const char* reply, const char* prefix, PatternArea* area);

// Cuts `text` at every character of `delimiters` the way strtok_r does (leading delimiters
// skipped, runs of delimiters count as one, no empty rows) into at most `limit` rows of `rowChars`
// characters (limit <= kMaxReplyRows, rowChars < kReplyRowSize). `rows` is zero-filled first.
// With `echo`, prints each stored piece uncut as "Row: %d, %s\n".
void SplitReplyRows(const char* text, const char* delimiters, int limit, int rowChars, bool echo,
                    ReplyRows* rows);

// The number at the start of `row`: digits, '-' and '.' are collected; other characters are
// passed over until the first digit and end the walk after it. At most `limit` characters go to
// `out`, which must hold limit + 1 bytes; the result is always terminated, possibly empty.
void ExtractNumber(const char* row, int limit, char* out);

// A short field without its quotes and unquoted blanks: rows of 1 to 5 characters are cleaned by
// CleanQuotedText into `out` (kStripQuotesSize bytes); other rows give the empty text.
void StripQuotes(const char* row, char* out);

// Outside quotes blanks are dropped and a single or double quote opens a quote (dropped); inside,
// everything is taken until the matching quote, which ends the walk. `out` holds outSize bytes.
void CleanQuotedText(const char* row, char* out, size_t outSize);

// C library decimal conversion (leading blanks and a sign, stops at the first non-digit, no digits
// give 0), saturated to the 32-bit range.
int DecimalToInt(const char* text);

// Hexadecimal conversion as strtol(text, nullptr, 16) does it (an optional 0x prefix), saturated to
// the 32-bit signed range as on the router's 32-bit long.
long HexToLong(const char* text);
