#include "report/append_text.h"

#include <cstring>

int AppendText(char** pos, const char* end, const char* piece, size_t length) {
  if (*pos >= end || length >= static_cast<size_t>(end - *pos)) return 0;
  memcpy(*pos, piece, length);
  *pos += length;
  **pos = '\0';
  return 1;
}

size_t CappedLength(const char* text, size_t cap) {
  return strnlen(text, cap);
}
