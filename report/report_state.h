// What the CSV and Influx records carry from one record to the next; the daemon owns one.
#pragma once

#include <cstdint>

#include "status/status_names.h"

struct ReportState {
  int32_t csvRecords;     // CSV records rendered so far: the next record's id
  int32_t influxRecords;  // Influx records rendered so far: the next record's id
  // Entries already reported as left out of an Influx record for a value that is not a number of
  // their type.
  bool reportedNotNumber[kStatusCount];
  int64_t lastPostTime;  // wall time of the last Influx record, which the record carries
  // The table's write count when the last Influx record was built: a variable value is in the
  // next record only when written after it. Write order, not the wall clock, which NTP may step.
  uint64_t lastRecordSeq;
};
