// A status table in tests: one entry or the whole table as a copy taken under its lock, and
// emptying it between cases.
#pragma once

#include "status/status_table.h"

inline StatusSnapshot SnapshotOf(const StatusTable& table) {
  StatusSnapshot copy;
  table.Copy(&copy);
  return copy;
}

inline StatusValue EntryOf(const StatusTable& table, uint32_t index) {
  return SnapshotOf(table).entries[index];
}

// Every entry written empty (no value), as a fresh table has them; times stay stamped.
inline void EmptyTable(StatusTable& table) {
  for (uint32_t i = 0; i < kStatusCount; ++i) table.Update(i, "");
}
