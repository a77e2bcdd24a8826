#include "modem/sim_identity.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "config/context.h"
#include "exec/pattern.h"
#include "modem/channel.h"
#include "modem/collectors.h"
#include "modem/modem_session.h"
#include "status/status_table.h"

namespace {

constexpr int kCleanSize = 128;

// A cleared area holding the reply as its input.
void Intake(const char* reply, PatternArea* area) {
  memset(area, 0, sizeof *area);
  snprintf(area->input, sizeof area->input, "%s", reply);
}

// The text of area->output reduced to letters and digits; empty when it is 127 characters or
// longer.
void CleanOutput(const PatternArea* area, char* cleaned) {
  cleaned[0] = '\0';
  RemoveWhiteSpace(area->output, cleaned, kCleanSize);
}

void SetPattern(PatternArea* area, const char* pattern) {
  memset(area->pattern, 0, sizeof area->pattern);
  memset(area->output, 0, sizeof area->output);
  snprintf(area->pattern, sizeof area->pattern, "%s", pattern);
}

// True when `prefix` occurs in the input and at least one character follows it.
bool FollowedByText(PatternArea* area, const char* prefix) {
  SetPattern(area, prefix);
  return GetAfterPattern(area) != 0;
}

}  // namespace

int TakeSimStateReply(PatternArea* area) {
  if (FollowedByText(area, "+CME ERROR:")) return 0;
  return FollowedByText(area, "+CPIN: READY") ? 1 : 0;
}

int TakeIccidReply(GatherContext* ctx, PatternArea* area) {
  SetPattern(area, "QCCID: ");
  if (GetNumberAfterPattern(area) == 0) return 0;
  char cleaned[kCleanSize];
  CleanOutput(area, cleaned);
  if (cleaned[0] == '\0') return 0;
  UpdateFixedStatus(ctx, kICCID_s, cleaned);
  return 1;
}

int TakeImsiReply(GatherContext* ctx, PatternArea* area) {
  SetPattern(area, "[0-9]{15}");
  if (DoRegX(area) == 0) return 0;
  char cleaned[kCleanSize];
  CleanOutput(area, cleaned);
  if (cleaned[0] == '\0') return 0;
  UpdateFixedStatus(ctx, kIMSI_s, cleaned);
  return 1;
}

int TakeSwVersionReply(GatherContext* ctx, PatternArea* area) {
  SetPattern(area, "\\bEM12\\w+");
  if (DoRegX(area) == 0) return 0;
  char cleaned[kCleanSize];
  CleanOutput(area, cleaned);
  UpdateFixedStatus(ctx, kModemSwVersion_s, cleaned);
  return 1;
}

int TakeSimState(GatherContext*, const char* reply) {
  PatternArea area;
  Intake(reply, &area);
  return TakeSimStateReply(&area);
}

int TakeIccid(GatherContext* ctx, const char* reply) {
  PatternArea area;
  Intake(reply, &area);
  return TakeIccidReply(ctx, &area);
}

int TakeImsi(GatherContext* ctx, const char* reply) {
  PatternArea area;
  Intake(reply, &area);
  return TakeImsiReply(ctx, &area);
}

int TakeSwVersion(GatherContext* ctx, const char* reply) {
  PatternArea area;
  Intake(reply, &area);
  return TakeSwVersionReply(ctx, &area);
}
