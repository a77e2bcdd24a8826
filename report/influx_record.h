// The InfluxDB line-protocol record of the status table.
#pragma once

#include <cstddef>
#include <cstdint>

struct GatherContext;
struct ReportState;

// Stores the uptime and time a record is made at in the table (UpTime_i, StatusTime_i), which the
// record then carries; nothing when the schema gives no measurement name (no record is made).
void StampInfluxRecord(GatherContext* ctx, int32_t uptime, int64_t recordTime);

// Builds the record made at `recordTime` into `buffer`: the tags, id=<report->influxRecords>i and
// the fields of the fixed entries and of the variable ones written since the last record was
// built (by the table's write order, so a stepped wall clock changes nothing). Only reads the
// table. On success the record count moves on, lastPostTime becomes `recordTime`, lastRecordSeq
// the table's write count, and the result is 1; else 0.
int GetInfluxData(GatherContext* ctx, ReportState* report, int64_t recordTime, char* buffer,
                  size_t size);
