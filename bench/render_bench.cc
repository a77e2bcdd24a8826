// Render times of the JSON snapshot, the CSV record and the Influx record for a full table.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "base/clock.h"
#include "config/daemon_config.h"
#include "daemon/record_stamp.h"
#include "report/csv_record.h"
#include "report/influx_record.h"
#include "report/json_snapshot.h"
#include "report/report_state.h"
#include "status/status_table.h"

namespace {

DaemonConfig config;
StatusTable table;
StatusSnapshot copy;  // each render works on a copy taken under the lock, as the daemon's do
ReportState report;
char buffer[16384];

// Every entry holds a value of its type, as after a full pass with the link up; text values have
// a blank, a comma and a quote so the escaping paths run.
void FillTable() {
  snprintf(config.schema, sizeof config.schema, "lte");
  snprintf(config.serialNumber, sizeof config.serialNumber, "KX2140000123");
  snprintf(config.account, sizeof config.account, "account");
  snprintf(config.subAccount, sizeof config.subAccount, "sub");
  snprintf(config.instance, sizeof config.instance, "unit1");
  const int64_t now = time(nullptr);
  for (uint32_t i = 0; i < kStatusCount; ++i) {
    const char* name = kStatusNames[i].name;
    size_t n = name != nullptr ? strlen(name) : 0;
    const char* value = "Quectel EM12-G, \"rev\" 2";
    if (n > 2 && name[n - 2] == '_' && name[n - 1] == 'i') value = "-10734";
    if (n > 2 && name[n - 2] == '_' && name[n - 1] == 'f') value = "-12.5";
    table.Update(i, value, now);
  }
}

void BM_JsonSnapshot(benchmark::State& state) {
  const int64_t now = time(nullptr);
  for (auto _ : state) {
    table.Copy(&copy);
    GetJsonData(copy, buffer, kJsonRenderSize, now);
    benchmark::DoNotOptimize(buffer);
  }
  state.counters["bytes"] = static_cast<double>(strlen(buffer));
}

void BM_CsvRecord(benchmark::State& state) {
  for (auto _ : state) {
    table.Copy(&copy);
    GetCSVData(copy, &report, buffer, kCsvRenderSize, 0);
    benchmark::DoNotOptimize(buffer);
  }
  state.counters["bytes"] = static_cast<double>(strlen(buffer));
}

void BM_InfluxRecord(benchmark::State& state) {
  for (auto _ : state) {
    report.lastRecordSeq = 0;  // every value counts as new since the last record
    const int64_t now = time(nullptr);
    StampInfluxRecord(table, config, GetUptime(), now);  // as the main loop does
    table.Copy(&copy);
    GetInfluxData(config, copy, &report, now, buffer, 16382);
    benchmark::DoNotOptimize(buffer);
  }
  state.counters["bytes"] = static_cast<double>(strlen(buffer));
}

BENCHMARK(BM_JsonSnapshot)->Name("render_json")->Unit(benchmark::kMicrosecond)
    ->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_CsvRecord)->Name("render_csv")->Unit(benchmark::kMicrosecond)
    ->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_InfluxRecord)->Name("render_influx")->Unit(benchmark::kMicrosecond)
    ->Repetitions(9)->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
  FillTable();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
