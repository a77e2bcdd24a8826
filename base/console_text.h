// Escaping of text that came from outside (modem replies, network names, GPS sentences, server
// replies) before it reaches a terminal or syslog, so it cannot move the cursor or forge a line.
#pragma once

#include <cstdio>
#include <cstddef>

// Copies `length` bytes of `text` into `out` (`size` bytes, always terminated when `size` > 0),
// writing every byte below 0x20 and 0x7F as "\xHH". An escape is never split: the copy stops
// before one that does not fit whole. Returns the count of characters stored.
size_t EscapeControlBytes(const char* text, size_t length, char* out, size_t size);

// Writes `length` bytes of `text` to `stream` escaped as above, whatever its length.
void WriteEscaped(FILE* stream, const char* text, size_t length);

// Formats like fprintf into a bounded line (longer text is cut) and writes it escaped as above; a
// line feed that ends the formatted text stays as it is.
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void PrintOutsideText(FILE* stream, const char* format, ...);
