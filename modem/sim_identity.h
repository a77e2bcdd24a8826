// SIM state and identity: whether the SIM is ready, its ICCID, the IMSI and the modem's firmware
// version. Each is asked on every pass that finds a modem until it succeeds once, then never again
// (the four steps are declared in modem/collectors.h).
#pragma once

struct ModemPass;

constexpr int kIdentityTextSize = 128;  // a cleaned identity: at most 127 characters

// One identity text, reduced to letters and digits.
struct IdentityText {
  bool valid;  // false: the reply did not hold the identity (for the ICCID and the IMSI, also
               // when nothing was left after cleaning)
  char text[kIdentityTextSize];
};

// Each takes apart an answer as the ModemManager link hands it over. True when the reply says the
// SIM is ready and something follows that word.
bool SimIsReady(const char* reply);
IdentityText ParseIccid(const char* reply);      // the digits after "QCCID: "
IdentityText ParseImsi(const char* reply);       // the first run of fifteen digits
IdentityText ParseSwVersion(const char* reply);  // a word starting with EM12

// Each stores its identity as a fixed value.
void StoreIccid(ModemPass& pass, const IdentityText& iccid);
void StoreImsi(ModemPass& pass, const IdentityText& imsi);
void StoreSwVersion(ModemPass& pass, const IdentityText& version);

// The four steps' parsers: 1 when the step succeeded (and stored its value), else 0.
int TakeSimState(ModemPass& pass, const char* reply);
int TakeIccid(ModemPass& pass, const char* reply);
int TakeImsi(ModemPass& pass, const char* reply);
int TakeSwVersion(ModemPass& pass, const char* reply);
