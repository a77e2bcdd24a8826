#include "status/status_table.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "base/console_text.h"
#include "config/context.h"

StatusTable statusValues;

namespace {

int64_t SystemNow() { return static_cast<int64_t>(time(nullptr)); }

StatusClock status_clock = SystemNow;

bool IsCounter(uint32_t index) {
  return index == kUpTime_i || index == kStatusTime_i || index == kPostDuration_i;
}

// Stores an already formatted text; the shared steps of every update operation.
int StoreText(GatherContext* ctx, uint32_t index, const char* text, int64_t timestamp,
              bool fixed) {
  if (index >= kStatusCount) return 0;
  const int64_t now = status_clock();
  const int64_t ts = timestamp != 0 ? timestamp : now;
  StatusTable* table = ctx->statusTable;
  StatusValue& entry = table->entries[index];

  StatusLock(table);
  entry.fixed = fixed ? 1 : 0;
  if (table->echoWrites != 0) {
    PrintOutsideText(stdout, fixed ? "Fixed Value:  %s '%s'\n" : "Variable Value:  %s '%s'\n",
           entry.name != nullptr ? entry.name : "(null)", text);
  }
  entry.lastUpdate = ts;
  entry.writeSeq = ++table->writeCount;
  // The -c echo starts after the first store of Cprint, the first write of a status cycle.
  if (index == kCprint) table->echoWrites = ctx->printValues;
  if (IsCounter(index)) {
    snprintf(entry.value, sizeof entry.value, "%s", text);
    StatusUnlock(table);
    return 0;
  }
  table->lastUpdate = now;
  int changed = 0;
  if (strcmp(entry.value, text) != 0) {
    entry.lastChange = ts;
    table->lastChange = now;
    snprintf(entry.value, sizeof entry.value, "%s", text);
    changed = 1;
  }
  StatusUnlock(table);
  return changed;
}

}  // namespace

void SetStatusClock(StatusClock clock) { status_clock = clock != nullptr ? clock : SystemNow; }

void StatusInit() {
  memset(&statusValues, 0, sizeof statusValues);
  pthread_mutex_init(&statusValues.lock, nullptr);
  for (uint32_t i = 0; i < kStatusCount; ++i) {
    statusValues.entries[i].name = kStatusNames[i].name;
    statusValues.entries[i].kind = kStatusNames[i].kind;
  }
}

int StatusLock(StatusTable* table) {
  int rc = pthread_mutex_lock(&table->lock);
  if (rc != 0) {
    fprintf(stderr, "Failed to lock status mutex: %s\n", strerror(rc));
    return 0;
  }
  return 1;
}

int StatusUnlock(StatusTable* table) {
  int rc = pthread_mutex_unlock(&table->lock);
  if (rc != 0) {
    fprintf(stderr, "Failed to unlock status mutex: %s\n", strerror(rc));
    return 0;
  }
  return 1;
}

int UpdateFixedStatus(GatherContext* ctx, uint32_t index, const char* text) {
  char buf[kStatusValueSize];
  snprintf(buf, sizeof buf, "%s", text);
  return StoreText(ctx, index, buf, 0, true);
}

int UpdateFixedStatus_i(GatherContext* ctx, uint32_t index, int32_t value) {
  char buf[kStatusValueSize];
  snprintf(buf, sizeof buf, "%d", value);
  return StoreText(ctx, index, buf, 0, true);
}

int UpdateVariableStatusT(GatherContext* ctx, uint32_t index, const char* text, int64_t timestamp) {
  char buf[kStatusValueSize];
  snprintf(buf, sizeof buf, "%s", text);
  return StoreText(ctx, index, buf, timestamp, false);
}

int UpdateVariableStatus_i(GatherContext* ctx, uint32_t index, int32_t value) {
  char buf[kStatusValueSize];
  snprintf(buf, sizeof buf, "%d", value);
  return StoreText(ctx, index, buf, 0, false);
}

int UpdateVariableStatus_l(GatherContext* ctx, uint32_t index, long value) {
  char buf[kStatusValueSize];
  snprintf(buf, sizeof buf, "%ld", value);
  return StoreText(ctx, index, buf, 0, false);
}

int UpdateVariableStatus_f(GatherContext* ctx, uint32_t index, float value, int64_t timestamp) {
  char buf[kStatusValueSize];
  snprintf(buf, sizeof buf, "%f", static_cast<double>(value));
  return StoreText(ctx, index, buf, timestamp, false);
}

int UpdateVariableStatus_d(GatherContext* ctx, uint32_t index, double value, int64_t timestamp) {
  char buf[kStatusValueSize];
  snprintf(buf, sizeof buf, "%lf", value);
  return StoreText(ctx, index, buf, timestamp, false);
}

int ExpireStatus(GatherContext* ctx, uint32_t kind) {
  StatusTable* table = ctx->statusTable;
  StatusLock(table);
  for (StatusValue& entry : table->entries) {
    if (entry.kind == kind && entry.fixed == 0 && entry.value[0] != '\0') entry.lastUpdate = -1;
  }
  return StatusUnlock(table);
}
