// The bounded append every record builder (JSON, CSV, Influx) writes its pieces with.
#pragma once

#include <cstddef>

// Writes the `length` bytes of `piece` at *pos only when they fit with a byte to spare before
// `end` (*pos + length < end), terminates the text after them and advances *pos by `length`.
// A piece that does not fit is skipped whole and *pos stays. Returns 1 when written, else 0.
int AppendText(char** pos, const char* end, const char* piece, size_t length);

// Length of `text` counted for appending: at most `cap` characters.
size_t CappedLength(const char* text, size_t cap);
