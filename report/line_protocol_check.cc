#include "report/line_protocol_check.h"

namespace {

bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }

// Moves *at past a name or unquoted value that ends at one of `stops` (backslash pairs taken
// whole). False when it is empty or a backslash ends the line.
bool SkipToken(const char* line, size_t length, size_t* at, const char* stops) {
  const size_t start = *at;
  while (*at < length) {
    const char c = line[*at];
    bool stop = false;
    for (const char* s = stops; *s != '\0'; ++s) stop = stop || c == *s;
    if (stop) break;
    if (c == '\\') {
      if (*at + 1 >= length) return false;
      ++*at;
    }
    ++*at;
  }
  return *at > start;
}

// Moves *at past a double-quoted string value starting at *at. False when it is not closed.
bool SkipString(const char* line, size_t length, size_t* at) {
  ++*at;  // the opening quote
  while (*at < length) {
    if (line[*at] == '\\') {
      *at += 2;
      continue;
    }
    if (line[*at] == '"') {
      ++*at;
      return true;
    }
    ++*at;
  }
  return false;
}

}  // namespace

bool IsOneLineRecord(const char* line, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (IsControl(line[i])) return false;
  }
  size_t at = 0;
  if (!SkipToken(line, length, &at, ", ")) return false;  // measurement
  while (at < length && line[at] == ',') {                // tags
    ++at;
    if (!SkipToken(line, length, &at, "=, ") || at >= length || line[at] != '=') return false;
    ++at;
    if (!SkipToken(line, length, &at, ", ")) return false;
  }
  if (at >= length || line[at] != ' ') return false;
  ++at;
  for (;;) {  // fields
    if (!SkipToken(line, length, &at, "=, \"") || at >= length || line[at] != '=') return false;
    ++at;
    if (at < length && line[at] == '"') {
      if (!SkipString(line, length, &at)) return false;
    } else if (!SkipToken(line, length, &at, ", \"")) {
      return false;
    }
    if (at == length) return true;
    if (line[at] != ',') return false;
    ++at;
  }
}
