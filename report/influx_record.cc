#include "report/influx_record.h"

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/daemon_config.h"
#include "report/append_text.h"
#include "report/report_state.h"
#include "status/status_table.h"

namespace {

// Longest measurement, tag text, optional tag and field; longest id text.
constexpr size_t kPieceLimit = 128;
constexpr size_t kIdLimit = 256;
// Holds any value or name of 127 characters with every character escaped.
constexpr size_t kEscapedSize = 256;

// Characters that line protocol needs escaped with a backslash, by position.
constexpr char kMeasurementSpecials[] = ", ";
constexpr char kKeySpecials[] = ",= ";      // tag keys, tag values, field keys
constexpr char kStringSpecials[] = "\"\\";  // string field values

bool IsSpecial(char c, const char* specials) { return c != '\0' && strchr(specials, c) != nullptr; }

// Copies `text` into `out` (size bytes, always terminated) with a backslash before each character
// of `specials`. Control bytes are dropped: line protocol has no escape for CR and LF, and the
// backlog file takes up no line holding one. Stops before a character or escape pair that would
// not fit. Returns the length written.
size_t Escape(char* out, size_t size, const char* text, const char* specials) {
  size_t len = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (static_cast<unsigned char>(*c) < 0x20 || *c == 0x7f) continue;
    const bool special = IsSpecial(*c, specials);
    if (len + (special ? 2 : 1) >= size) break;
    if (special) out[len++] = '\\';
    out[len++] = *c;
  }
  out[len] = '\0';
  return len;
}

// Length of the longest prefix of escaped `text` (length `len`) of at most `limit` characters that
// neither splits an escape pair nor ends in a lone backslash, which would escape whatever follows.
size_t CutEscaped(const char* text, size_t len, size_t limit, const char* specials) {
  size_t cut = 0;
  size_t last_step = 0;
  while (cut < len) {
    size_t step = text[cut] == '\\' && cut + 1 < len && IsSpecial(text[cut + 1], specials) ? 2 : 1;
    if (cut + step > limit) break;
    cut += step;
    last_step = step;
  }
  if (cut > 0 && last_step == 1 && text[cut - 1] == '\\') --cut;
  return cut;
}

// Adds ",key=value" (value escaped) to the tag text `out` of length *len, keeping it within
// `limit` characters. A tag with an empty value is left out: the server rejects the whole record
// for it. A tag that does not fit whole contributes the part of its value that fits, if any.
// Returns false once the tag text is full, so that later tags are dropped, not squeezed in.
bool AddTag(char* out, size_t* len, size_t limit, const char* key, const char* value) {
  char escaped[kEscapedSize];
  size_t value_len = Escape(escaped, sizeof escaped, value, kKeySpecials);
  // A value ending in a backslash would escape the comma or blank that follows it and run into
  // the next tag or the fields.
  while (value_len > 0 && escaped[value_len - 1] == '\\') --value_len;
  if (value_len == 0) return true;
  const size_t prefix_len = 2 + strlen(key);  // "," key "="
  if (*len + prefix_len >= limit) return false;
  const size_t room = limit - *len - prefix_len;
  const bool whole = value_len <= room;
  if (!whole) value_len = CutEscaped(escaped, value_len, room, kKeySpecials);
  if (value_len == 0) return false;
  *len += static_cast<size_t>(snprintf(out + *len, limit + 1 - *len, ",%s=%.*s", key,
                                       static_cast<int>(value_len), escaped));
  return whole;
}

// An optional minus sign and digits, within the 64-bit range the server stores.
bool IsInteger(const char* text) {
  const char* digits = text[0] == '-' ? text + 1 : text;
  if (*digits == '\0') return false;
  for (const char* c = digits; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return false;
  }
  errno = 0;
  strtoll(text, nullptr, 10);
  return errno == 0;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A decimal number as line protocol writes it: optional minus, digits with an optional fraction,
// an optional exponent; finite.
bool IsDecimal(const char* text) {
  const char* c = text[0] == '-' ? text + 1 : text;
  size_t mantissa_digits = 0;
  for (; IsDigit(*c); ++c) ++mantissa_digits;
  if (*c == '.') {
    for (++c; IsDigit(*c); ++c) ++mantissa_digits;
  }
  if (mantissa_digits == 0) return false;
  if (*c == 'e' || *c == 'E') {
    ++c;
    if (*c == '+' || *c == '-') ++c;
    if (!IsDigit(*c)) return false;
    while (IsDigit(*c)) ++c;
  }
  if (*c != '\0') return false;
  return std::isfinite(strtod(text, nullptr));
}

// Builds the field of one entry into `out` (at least kPieceLimit + 1 bytes): "," key "=" value,
// typed by the suffix of the name. Returns its length, or 0 when the entry is left out.
size_t BuildField(const StatusValue& entry, uint32_t index, ReportState* report, char* out) {
  const size_t n = strnlen(entry.name, 64);
  if (n <= 2) {
    fprintf(stderr, "AddData Error: status name too short!\n");
    return 0;
  }
  char type = 's';
  size_t key_len = n < 63 ? n : 63;
  if (entry.name[n - 2] == '_') {
    key_len = n - 2;
    if (entry.name[n - 1] == 'f' || entry.name[n - 1] == 'i') type = entry.name[n - 1];
  }
  char raw_key[64];
  snprintf(raw_key, sizeof raw_key, "%.*s", static_cast<int>(key_len), entry.name);
  char key[kEscapedSize];
  Escape(key, sizeof key, raw_key, kKeySpecials);

  if (type != 's') {
    if (!(type == 'i' ? IsInteger(entry.value) : IsDecimal(entry.value))) {
      // One such value would make the server reject the whole record.
      if (!report->reportedNotNumber[index]) {
        report->reportedNotNumber[index] = true;
        fprintf(stderr, "Influx record leaves out %s: its value is not %s\n", entry.name,
                type == 'i' ? "an integer" : "a decimal number");
      }
      return 0;
    }
    int len = snprintf(out, kPieceLimit + 1, ",%s=%s%s", key, entry.value, type == 'i' ? "i" : "");
    // A cut number would be a different number: leave it out instead.
    return len > 0 && static_cast<size_t>(len) <= kPieceLimit ? static_cast<size_t>(len) : 0;
  }

  char value[kEscapedSize];
  size_t value_len = Escape(value, sizeof value, entry.value, kStringSpecials);
  const size_t frame_len = strlen(key) + 4;  // "," key "=\"" and the closing quote
  if (frame_len > kPieceLimit) return 0;
  // A long value is cut so that the closing quote stays: without it the server rejects the record.
  if (frame_len + value_len > kPieceLimit) {
    value_len = CutEscaped(value, value_len, kPieceLimit - frame_len, kStringSpecials);
  }
  return static_cast<size_t>(snprintf(out, kPieceLimit + 1, ",%s=\"%.*s\"", key,
                                      static_cast<int>(value_len), value));
}

}  // namespace

bool InfluxRecordWanted(const DaemonConfig& config) {
  char measurement[kEscapedSize];
  return Escape(measurement, sizeof measurement, config.schema, kMeasurementSpecials) != 0;
}

int GetInfluxData(const DaemonConfig& config, const StatusSnapshot& table, ReportState* report,
                  int64_t recordTime, char* buffer, size_t size) {
  char measurement[kEscapedSize];
  size_t measurement_len = Escape(measurement, sizeof measurement, config.schema,
                                  kMeasurementSpecials);
  if (measurement_len == 0) {
    fprintf(stderr, "No Influx schema configured for Influx post\n");
    return 0;
  }
  measurement_len = CutEscaped(measurement, measurement_len, kPieceLimit, kMeasurementSpecials);

  char* pos = buffer;
  const char* end = buffer + size - 1;
  if (!AppendText(&pos, end, measurement, measurement_len)) {
    fprintf(stderr, "GetInfluxData pointer overrun 1 (%zu)\n", size);
    return 0;
  }

  char tags[512];
  size_t tags_len = 0;
  tags[0] = '\0';
  const char* const tag_pairs[][2] = {
      {"serial_number", config.serialNumber}, {"hw_version", "1.0"},
      {"linux_version", "2.3"},               {"status_version", "2.3"},
      {"master_account", config.account},     {"sub_account", config.subAccount},
      {"instance", config.instance},
  };
  for (const auto& tag : tag_pairs) {
    if (!AddTag(tags, &tags_len, kPieceLimit, tag[0], tag[1])) break;
  }
  if (!AppendText(&pos, end, tags, tags_len)) {
    fprintf(stderr, "GetInfluxData pointer overrun 2\n");
    return 0;
  }
  const struct {
    const char* key;
    uint32_t index;
  } optional_tags[] = {{"imei", kIMEI_s}, {"modem_swversion", kModemSwVersion_s}};
  for (const auto& tag : optional_tags) {
    const char* value = table.entries[tag.index].value;
    if (value[0] == '\0') continue;
    char piece[kPieceLimit + 1];
    size_t piece_len = 0;
    piece[0] = '\0';
    AddTag(piece, &piece_len, kPieceLimit, tag.key, value);
    if (piece_len > 0) AppendText(&pos, end, piece, piece_len);
  }
  AppendText(&pos, end, " ", 1);

  char id[512];
  int id_len = snprintf(id, sizeof id, "id=%ldi", static_cast<long>(report->influxRecords));
  ++report->influxRecords;
  if (id_len > 0) {
    const size_t id_size = static_cast<size_t>(id_len);
    AppendText(&pos, end, id, id_size < kIdLimit ? id_size : kIdLimit);
  }

  for (uint32_t index = 0; index < kStatusCount; ++index) {
    const StatusValue& entry = table.entries[index];
    if (entry.value[0] == '\0' || entry.name == nullptr) continue;
    // Freshness goes by write order: across a step of the wall clock, times of writes before
    // and after the step cannot be compared. An expired entry (lastUpdate -1) is never fresh.
    if (entry.fixed == 0) {
      if (entry.writeSeq <= report->lastRecordSeq || entry.lastUpdate < 0) {
        printf("Value for %s too old (%" PRId64 " seconds older than last report)\n", entry.name,
               report->lastPostTime - entry.lastUpdate);
        continue;
      }
    }
    char field[kPieceLimit + 1];
    size_t field_len = BuildField(entry, index, report, field);
    if (field_len > 0) AppendText(&pos, end, field, field_len);
  }
  AppendText(&pos, end, "\n", 1);
  report->lastRecordSeq = table.writeCount;
  report->lastPostTime = recordTime;
  return 1;
}
