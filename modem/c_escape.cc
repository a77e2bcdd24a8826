#include "modem/c_escape.h"

size_t EscapeCStyle(const char* text, size_t length, char* out) {
  char* q = out;
  for (size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    char letter = '\0';
    switch (c) {
      case '\b':
        letter = 'b';
        break;
      case '\f':
        letter = 'f';
        break;
      case '\n':
        letter = 'n';
        break;
      case '\r':
        letter = 'r';
        break;
      case '\t':
        letter = 't';
        break;
      case '\v':
        letter = 'v';
        break;
      case '\\':
        letter = '\\';
        break;
      case '"':
        letter = '"';
        break;
      default:
        break;
    }
    if (letter != '\0') {
      *q++ = '\\';
      *q++ = letter;
    } else if (c < 0x20 || c >= 0x7f) {
      *q++ = '\\';
      *q++ = static_cast<char>('0' + ((c >> 6) & 07));
      *q++ = static_cast<char>('0' + ((c >> 3) & 07));
      *q++ = static_cast<char>('0' + (c & 07));
    } else {
      *q++ = static_cast<char>(c);
    }
  }
  *q = '\0';
  return static_cast<size_t>(q - out);
}
