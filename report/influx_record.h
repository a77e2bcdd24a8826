// The InfluxDB line-protocol record of the status table.
#pragma once

#include <cstddef>
#include <cstdint>

struct DaemonConfig;
struct StatusSnapshot;
struct ReportState;

// True when the schema gives a measurement name, so that a record can be made: the main loop then
// stores the uptime and time of the record (UpTime_i, StatusTime_i) before it copies the table.
bool InfluxRecordWanted(const DaemonConfig& config);

// Builds the record made at `recordTime` from the copy `table` into `buffer`: the tags,
// id=<report->influxRecords>i and the fields of the fixed entries and of the variable ones written
// since the last record was built (by the table's write order, so a stepped wall clock changes
// nothing). Only reads the table. On success the record count moves on, lastPostTime becomes
// `recordTime`, lastRecordSeq the table's write count, and the result is 1; else 0.
int GetInfluxData(const DaemonConfig& config, const StatusSnapshot& table, ReportState* report,
                  int64_t recordTime, char* buffer, size_t size);
