#include "modem/sim_identity.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "exec/pattern.h"
#include "modem/channel.h"
#include "modem/collectors.h"
#include "modem/modem_pass.h"
#include "modem/modem_session.h"
#include "modem/parse_and_store.h"
#include "status/status_table.h"

namespace {

// A cleared area holding the reply as its input.
void Intake(const char* reply, PatternArea* area) {
  memset(area, 0, sizeof *area);
  snprintf(area->input, sizeof area->input, "%s", reply);
}

// The text of area->output reduced to letters and digits; empty when it is 127 characters or
// longer.
void CleanOutput(const PatternArea* area, char* cleaned) {
  cleaned[0] = '\0';
  RemoveWhiteSpace(area->output, cleaned, kIdentityTextSize);
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

// The identity the regular expression `pattern` finds in `reply`, cleaned; with `needText`, an
// identity that cleans to nothing is not valid.
IdentityText MatchIdentity(const char* reply, const char* pattern, bool needText) {
  IdentityText identity{};
  PatternArea area;
  Intake(reply, &area);
  SetPattern(&area, pattern);
  if (DoRegX(&area) == 0) return identity;
  CleanOutput(&area, identity.text);
  identity.valid = !needText || identity.text[0] != '\0';
  return identity;
}

}  // namespace

bool SimIsReady(const char* reply) {
  PatternArea area;
  Intake(reply, &area);
  if (FollowedByText(&area, "+CME ERROR:")) return false;
  return FollowedByText(&area, "+CPIN: READY");
}

IdentityText ParseIccid(const char* reply) {
  IdentityText iccid{};
  PatternArea area;
  Intake(reply, &area);
  SetPattern(&area, "QCCID: ");
  if (GetNumberAfterPattern(&area) == 0) return iccid;
  CleanOutput(&area, iccid.text);
  iccid.valid = iccid.text[0] != '\0';
  return iccid;
}

IdentityText ParseImsi(const char* reply) { return MatchIdentity(reply, "[0-9]{15}", true); }

// The version is stored even when it cleans to nothing.
IdentityText ParseSwVersion(const char* reply) {
  return MatchIdentity(reply, "\\bEM12\\w+", false);
}

void StoreIccid(ModemPass& pass, const IdentityText& iccid) {
  pass.table.UpdateFixed(kICCID_s, iccid.text);
}

void StoreImsi(ModemPass& pass, const IdentityText& imsi) {
  pass.table.UpdateFixed(kIMSI_s, imsi.text);
}

void StoreSwVersion(ModemPass& pass, const IdentityText& version) {
  pass.table.UpdateFixed(kModemSwVersion_s, version.text);
}

int TakeSimState(ModemPass&, const char* reply) { return SimIsReady(reply) ? 1 : 0; }

int TakeIccid(ModemPass& pass, const char* reply) {
  return ParseAndStore(pass, reply, ParseIccid, StoreIccid);
}

int TakeImsi(ModemPass& pass, const char* reply) {
  return ParseAndStore(pass, reply, ParseImsi, StoreImsi);
}

int TakeSwVersion(ModemPass& pass, const char* reply) {
  return ParseAndStore(pass, reply, ParseSwVersion, StoreSwVersion);
}
