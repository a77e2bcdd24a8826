#include "location/location_update.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "base/console_text.h"
#include "location/geohash.h"
#include "platform/board.h"
#include "status/status_table.h"

namespace {

constexpr int64_t kHalfDay = 12 * 3600;
constexpr int64_t kDay = 24 * 3600;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int TwoDigits(const char* p) { return (p[0] - '0') * 10 + (p[1] - '0'); }

bool EndsText(char c) { return c == '\0' || c == '\r' || c == '\n'; }

void StoreField(NmeaFields* fields, const char* start, const char* end) {
  size_t length = static_cast<size_t>(end - start);
  if (length > kNmeaFieldSize - 1) length = kNmeaFieldSize - 1;
  char* slot = fields->field[fields->count];
  memcpy(slot, start, length);
  slot[length] = '\0';
  fields->count++;
}

}  // namespace

int32_t SplitNmeaFields(const char* text, NmeaFields* fields) {
  memset(fields, 0, sizeof *fields);
  const char* start = text;
  for (const char* p = text;; ++p) {
    if (*p == ',' || *p == '*') {
      StoreField(fields, start, p);
      if (fields->count == kNmeaFieldCount) break;
      start = p + 1;
    } else if (EndsText(*p)) {
      StoreField(fields, start, p);
      break;
    }
  }
  return fields->count;
}

int64_t NmeaFixTime(const char* timeField, int64_t now) {
  for (int i = 0; i < 6; ++i) {
    if (!IsDigit(timeField[i])) return 0;
  }
  const int hour = TwoDigits(timeField);
  const int minute = TwoDigits(timeField + 2);
  const int second = TwoDigits(timeField + 4);
  if (hour > 23 || minute > 59 || second > 60) return 0;  // 60: a leap second

  const time_t now_t = static_cast<time_t>(now);
  struct tm broken {};
  if (gmtime_r(&now_t, &broken) == nullptr) return 0;
  broken.tm_hour = hour;
  broken.tm_min = minute;
  broken.tm_sec = second;
  // The sentence's time is UTC, so it is converted back as UTC, not as local time.
  const time_t converted = timegm(&broken);
  if (converted == static_cast<time_t>(-1)) return 0;
  int64_t fix = static_cast<int64_t>(converted);
  if (fix - now > kHalfDay) {
    fix -= kDay;
  } else if (now - fix > kHalfDay) {
    fix += kDay;
  }
  return fix > 0 ? fix : 0;
}

double NmeaDegrees(const char* value, const char* hemisphere, char negativeHemisphere) {
  const double v = atof(value);
  // Whole degrees times 100, as the integer part of v divided by 100; values too large for an
  // integer (nonsense input) take the floating-point route instead of an undefined conversion.
  double d;
  if (std::fabs(v) < 1e15) {
    d = static_cast<double>(static_cast<int64_t>(v) / 100 * 100);
  } else {
    d = std::trunc(v / 100.0) * 100.0;
  }
  double degrees = ((v - d) / 60.0 * 100.0 + d) / 100.0;
  if (hemisphere[0] == negativeHemisphere) degrees = -degrees;
  return degrees;
}

int32_t NmeaTextLength(const char* text) {
  size_t length = strlen(text);
  while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n')) --length;
  return static_cast<int32_t>(length);
}

void LocationUpdateAt(StatusTable& table, Board& board, const char* text, int64_t now) {
  const int32_t length = NmeaTextLength(text);
  PrintOutsideText(stdout, "Location Update from GPS daemon: \"%.*s\"\n", static_cast<int>(length),
                   text);
  fflush(stdout);

  NmeaFields fields;
  if (SplitNmeaFields(text, &fields) < 5) return;

  const int64_t fix_time = fields.field[1][0] != '\0' ? NmeaFixTime(fields.field[1], now) : 0;

  char sentence[kStatusValueSize];
  snprintf(sentence, sizeof sentence, "%.*s", static_cast<int>(length), text);
  table.Update(kNMEA_s, sentence, fix_time);

  if (fields.field[2][0] == '\0' || fields.field[4][0] == '\0') return;

  const double latitude = NmeaDegrees(fields.field[2], fields.field[3], 'S');
  const double longitude = NmeaDegrees(fields.field[4], fields.field[5], 'W');
  printf("lat: %f lon: %f\n", latitude, longitude);
  fflush(stdout);
  table.UpdateDouble(kLat_f, latitude, fix_time);
  table.UpdateDouble(kLon_f, longitude, fix_time);

  if (fields.field[9][0] != '\0') {
    table.UpdateFloat(kAlt_f, strtof(fields.field[9], nullptr), fix_time);
  }

  char geohash[14] = {};
  if (EncodeGeohash(latitude, longitude, geohash, 12) != 0) {
    table.Update(kGeoHash_s, geohash, 0);
  }

  // No lock is held here; datagrams that arrive meanwhile wait in the socket's queue.
  board.SetFixRegister(latitude != 0.0 && longitude != 0.0);
}

void LocationUpdate(StatusTable& table, Board& board, const char* text) {
  LocationUpdateAt(table, board, text, static_cast<int64_t>(time(nullptr)));
}
