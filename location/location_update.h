// Parsing of one NMEA GGA sentence from the GPS daemon, and the update that turns it into the
// position entries of the status table, the geohash and the I2C fix register.
#pragma once

#include <cstdint>

class Board;
class StatusTable;

constexpr int kNmeaFieldCount = 15;
constexpr int kNmeaFieldSize = 64;  // at most 63 characters and a terminator

struct NmeaFields {
  char field[kNmeaFieldCount][kNmeaFieldSize];  // slots past `count` are empty
  int32_t count;
};

// Splits `text` at "," and "*"; the text ends at its terminator, a carriage return or a line
// feed. Splitting stops once 15 fields have been ended by a separator. Fields longer than 63
// characters are cut. Returns the number of fields.
int32_t SplitNmeaFields(const char* text, NmeaFields* fields);

// The fix time of a UTC hhmmss field (fraction ignored) on the day of `now`, moved to the day
// before or after when it would lie more than 12 hours from `now` (a fix taken just before
// midnight and received just after, or the other way round). 0 when the field does not start
// with a valid six-digit time.
int64_t NmeaFixTime(const char* timeField, int64_t now);

// A ddmm.mmmm or dddmm.mmmm field in decimal degrees, negated when the hemisphere field starts
// with `negativeHemisphere` ('S' or 'W').
double NmeaDegrees(const char* value, const char* hemisphere, char negativeHemisphere);

// The length of `text` without its trailing carriage returns and line feeds.
int32_t NmeaTextLength(const char* text);

// Turns one received sentence into position values, the geohash and the I2C fix register.
void LocationUpdate(StatusTable& table, Board& board, const char* text);
// LocationUpdate with the current time given (tests inject it).
void LocationUpdateAt(StatusTable& table, Board& board, const char* text, int64_t now);
