#include "base/console_text.h"

#include <cstdarg>

namespace {

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

}  // namespace

size_t EscapeControlBytes(const char* text, size_t length, char* out, size_t size) {
  if (size == 0) return 0;
  static const char kHex[] = "0123456789ABCDEF";
  size_t n = 0;
  for (size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (!IsControl(c)) {
      if (n + 1 >= size) break;
      out[n++] = static_cast<char>(c);
      continue;
    }
    if (n + 4 >= size) break;
    out[n++] = '\\';
    out[n++] = 'x';
    out[n++] = kHex[c >> 4];
    out[n++] = kHex[c & 0xF];
  }
  out[n] = '\0';
  return n;
}

void WriteEscaped(FILE* stream, const char* text, size_t length) {
  char chunk[256];
  // Each pass takes at most 63 input bytes, which escape to at most 252 characters.
  for (size_t done = 0; done < length;) {
    const size_t take = length - done < 63 ? length - done : 63;
    const size_t n = EscapeControlBytes(text + done, take, chunk, sizeof chunk);
    fwrite(chunk, 1, n, stream);
    done += take;
  }
}

void PrintOutsideText(FILE* stream, const char* format, ...) {
  char line[2048];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (n < 0) return;
  size_t length = static_cast<size_t>(n) < sizeof line ? static_cast<size_t>(n) : sizeof line - 1;
  const bool ends_line = length > 0 && line[length - 1] == '\n';
  if (ends_line) --length;
  WriteEscaped(stream, line, length);
  if (ends_line) fputc('\n', stream);
}
