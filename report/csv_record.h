// The CSV record of the status table (one line of values, optionally after the header line).
#pragma once

#include <cstddef>

struct ReportState;
struct StatusSnapshot;

constexpr size_t kCsvBufferSize = 4096;  // the main loop's buffer
constexpr size_t kCsvRenderSize = 4094;  // the size it passes

// Renders the copy of the table as "id=<n>i" and the 98 values separated by "," and ended
// by a line feed, after the line of entry names when `header` is non-zero. A value holding a
// comma, a double quote, a CR or a LF is written in double quotes with inner quotes doubled. <n>
// is report->csvRecords, which counts the calls. Returns 1.
int GetCSVData(const StatusSnapshot& table, ReportState* report, char* buffer, size_t size,
               int header);
