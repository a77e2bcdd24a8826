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

// Clears the area and sends the command (stored with its CR; `size` counts the NUL) into its
// input. Returns 1 when a reply came back.
int Intake(GatherContext* ctx, PatternArea* area, const char* command, int size) {
  memset(area, 0, sizeof *area);
  return modem_Send(ctx, command, size, area->input) > 0 ? 1 : 0;
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

void GetSimState(GatherContext* ctx) {
  if (ctx->modem->simReadySeen != 0) return;
  PatternArea area;
  if (Intake(ctx, &area, "AT+CPIN?\r", 10) == 0) return;
  if (TakeSimStateReply(&area) != 0) ctx->modem->simReadySeen = 1;
}

void GetIccid(GatherContext* ctx) {
  if (ctx->modem->iccidRead != 0) return;
  PatternArea area;
  if (Intake(ctx, &area, "AT+QCCID\r", 10) == 0) return;
  if (TakeIccidReply(ctx, &area) != 0) ctx->modem->iccidRead = 1;
}

void GetImsi(GatherContext* ctx) {
  if (ctx->modem->imsiRead != 0) return;
  PatternArea area;
  if (Intake(ctx, &area, "AT+CIMI\r", 9) == 0) return;
  if (TakeImsiReply(ctx, &area) != 0) ctx->modem->imsiRead = 1;
}

void GetModemSwVersion(GatherContext* ctx) {
  if (ctx->modem->swVersionRead != 0) return;
  PatternArea area;
  if (Intake(ctx, &area, "AT+CGMR\r", 9) == 0) return;
  if (TakeSwVersionReply(ctx, &area) != 0) ctx->modem->swVersionRead = 1;
}
