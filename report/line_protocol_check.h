// Whether a line of saved text is one line-protocol record that may be sent as it is.
#pragma once

#include <cstddef>

// True when `line` (`length` bytes, no line end, no timestamp) is one record: a measurement,
// optional ",key=value" tags, one blank and a field set of "key=value" pairs separated by commas,
// string values in double quotes; backslash escapes are followed. False for any control byte (NUL,
// CR, ESC, ...), an empty measurement, key or value, a missing field set, an unclosed string or
// anything after the field set.
bool IsOneLineRecord(const char* line, size_t length);
