#include "report/csv_record.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "report/append_text.h"
#include "report/report_state.h"
#include "status/status_table.h"

namespace {

constexpr size_t kPieceCap = 256;                     // characters of a name or value taken
constexpr size_t kQuotedSize = kPieceCap * 2 + 3;     // every quote doubled, two around, NUL
constexpr size_t kIdSize = 1024;

// Appends one field, quoted when it holds a separator, a quote or a line break, so a value like
// an NMEA sentence stays in its own column.
void AppendField(char** pos, const char* end, const char* text) {
  const char* source = text != nullptr ? text : "";
  size_t length = CappedLength(source, kPieceCap);
  if (strcspn(source, ",\"\r\n") >= length) {
    AppendText(pos, end, source, length);
    return;
  }
  char quoted[kQuotedSize];
  size_t o = 0;
  quoted[o++] = '"';
  for (size_t i = 0; i < length; ++i) {
    if (source[i] == '"') quoted[o++] = '"';
    quoted[o++] = source[i];
  }
  quoted[o++] = '"';
  quoted[o] = '\0';
  AppendText(pos, end, quoted, o);
}

}  // namespace

int GetCSVData(const StatusSnapshot& table, ReportState* report, char* buffer, size_t size,
               int header) {
  char* pos = buffer;
  const char* end = buffer + size;
  if (header) {
    for (uint32_t i = 0; i < kStatusCount; ++i) {
      // Index 2 has no name: its column title stays empty.
      AppendField(&pos, end, table.entries[i].name);
      if (i + 1 < kStatusCount) AppendText(&pos, end, ",", 1);
    }
    AppendText(&pos, end, "\n", 1);
  }
  char id[kIdSize];
  int id_length = snprintf(id, sizeof id, "id=%" PRId32 "i", report->csvRecords);
  ++report->csvRecords;
  AppendText(&pos, end, id, static_cast<size_t>(id_length));
  for (uint32_t i = 0; i < kStatusCount; ++i) {
    AppendField(&pos, end, table.entries[i].value);
    if (i + 1 < kStatusCount) AppendText(&pos, end, ",", 1);
  }
  AppendText(&pos, end, "\n", 1);
  return 1;
}
