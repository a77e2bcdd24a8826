// Escapes text C-style the way GLib's g_strescape does, so values read without GLib are kept as
// they were when GLib read them.
#pragma once

#include <cstddef>

// The most bytes one input byte becomes ("\ooo").
constexpr size_t kEscapedBytesPerByte = 4;

// Writes the first `length` bytes of `text` escaped to `out`, terminated; `out` holds at least
// kEscapedBytesPerByte * length + 1 bytes. \b \f \n \r \t \v \\ and \" get their letter, the other
// bytes below 0x20 and from 0x7f on three octal digits, the rest stays. Returns the length written.
size_t EscapeCStyle(const char* text, size_t length, char* out);
