// The SIM's group identifiers (AT+QGID), asked once per daemon run.
#pragma once

#include "modem/reply_rows.h"

struct ModemPass;

constexpr int kGid1Size = 129;  // GID1's letters and digits and a terminator

// The SIM's two group identifiers.
struct GroupIds {
  bool valid;  // false: no "+QGID:" report
  char gid1[kGid1Size];  // letters and digits only
  char gid2[kReplyRowSize];
};

// Takes apart a group-identifier reply as the ModemManager link hands it over.
GroupIds ParseGroupIds(const char* reply);
// Stores GID1 and GID2 as fixed values.
void StoreGroupIds(ModemPass& pass, const GroupIds& ids);
// ParseGroupIds and StoreGroupIds: 1 when stored, else 0.
int TakeGroupIds(ModemPass& pass, const char* reply);
