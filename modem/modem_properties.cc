#include "modem/modem_properties.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/console_text.h"
#include "base/paths.h"
#include "base/signals.h"
#include "config/config_lookup.h"
#include "exec/zel_exec.h"
#include "modem/collectors.h"
#include "modem/mm_dbus.h"
#include "modem/modem_pass.h"
#include "modem/modem_session.h"
#include "status/status_table.h"

namespace {

constexpr int kPropertiesOutputSize = 16384;

// Copies the value that starts at `p` up to the line end into `value` (at most 127 characters,
// a backslash-tab pair dropped). Returns the position after the line end, or the end of the text.
const char* CopyValue(const char* p, char* value) {
  int len = 0;
  while (*p != '\0' && *p != '\n') {
    if (p[0] == '\\' && p[1] == '\t') {
      p += 2;
      continue;
    }
    if (len < kPropertyValueSize - 1) value[len++] = *p;
    ++p;  // past the cut, the rest of the line is skipped
  }
  value[len] = '\0';
  return *p == '\n' ? p + 1 : p;
}

void ActOnKey(ModemPass& pass, const char* key, const char* value) {
  if (strcmp(key, "modem.generic.signal-quality.value") == 0) {
    char percent[10] = "";
    if (value[0] != '\0') snprintf(percent, sizeof percent, "%s%%", value);
    pass.table.Update(kSignalPercent_s, percent, 0);
  } else if (strcmp(key, "modem.3gpp.imei") == 0) {
    pass.table.UpdateFixed(kIMEI_s, value);
  } else if (strcmp(key, "modem.generic.own-numbers.value[1]") == 0) {
    char number[kPropertyValueSize];
    FormatPhoneNumber(value, number, sizeof number);
    pass.table.UpdateFixed(kPhoneNumber_s, number);
    PrintOutsideText(stdout, "Phone Number: %s\n", number);
  } else if (strcmp(key, "modem.3gpp.eps.initial-bearer.settings.apn") == 0) {
    snprintf(pass.session.initialBearerApn, sizeof pass.session.initialBearerApn, "%s", value);
  } else if (strcmp(key, "bearer.properties.apn") == 0) {
    snprintf(pass.session.bearerApn, sizeof pass.session.bearerApn, "%s", value);
  } else if (strcmp(key, "modem.generic.bearers.value[1]") == 0) {
    const char* bearer = strstr(value, "/Bearer/");
    if (bearer != nullptr) pass.session.bearerIndex = atoi(bearer + 8);
  } else {
    return;
  }
  PrintOutsideText(stdout, "Key: '%s' Value: '%s'\n", key, value);
}

// Whether a property value comes from the modem itself: its IMEI, its firmware version, or a
// signal quality above 0 (ModemManager shows 0 while it has no reading).
bool ShowsModemAlive(const char* key, const char* value) {
  if (value[0] == '\0') return false;
  if (strcmp(key, "modem.generic.signal-quality.value") == 0) return strcmp(value, "0") != 0;
  return strcmp(key, "modem.3gpp.imei") == 0 || strcmp(key, "modem.generic.revision") == 0;
}

// Runs `mmcli <flag> <index> -K` (or asks the same over D-Bus) and reads its output. Returns 1 when the output was read.
int QueryProperties(ModemPass& pass, const char* flag, int32_t index) {
  char index_text[12];
  snprintf(index_text, sizeof index_text, "%d", index);
  PrintOutsideText(stdout, "Sending command: %s %s %s %s\n",
                   pass.bus != nullptr ? "dbus" : RouterPathFixed(RouterPath::kMmcli), flag,
                   index_text, "-K");
  char arg0[] = "mmcli";
  char arg3[] = "-K";
  char flag_arg[4];
  snprintf(flag_arg, sizeof flag_arg, "%s", flag);
  char* argv[] = {arg0, flag_arg, index_text, arg3, nullptr};
  static char output[kPropertiesOutputSize];  // main thread only; too large for a small stack
  memset(output, 0, sizeof output);
  int32_t len = 0;
  if (pass.bus == nullptr) {
    len = Zel_Exec(RouterPathOf(RouterPath::kMmcli), argv, pass.session.cmdTotalMs,
                   pass.session.cmdIdleMs, output, kPropertiesOutputSize - 1);
  } else if (flag[1] == 'm') {
    len = pass.bus->ModemKeyValues(index, pass.session.cmdTotalMs, InterruptStopEvent(), output,
                                   kPropertiesOutputSize - 1);
  } else {
    len = pass.bus->BearerKeyValues(index, pass.session.cmdTotalMs, InterruptStopEvent(), output,
                                    kPropertiesOutputSize - 1);
  }
  if (len <= 10 || output[0] == '\0') return 0;
  TakeModemKeyValues(pass, output);
  return 1;
}

}  // namespace

void FormatPhoneNumber(const char* value, char* destination, size_t size) {
  const size_t len = strlen(value);
  const char* digits = value;
  if (len == 11) digits = value + 1;
  if (len == 10 || len == 11) {
    snprintf(destination, size, "%c%c%c.%c%c%c.%c%c%c%c", digits[0], digits[1], digits[2],
             digits[3], digits[4], digits[5], digits[6], digits[7], digits[8], digits[9]);
    return;
  }
  printf("Invalid length of %zu for phone number result: \"%.128s\"\n", len, value);
  snprintf(destination, size, "%s", value);
}

void TakeModemKeyValues(ModemPass& pass, const char* output) {
  const char* line = output;
  while (*line != '\0') {
    const char* line_end = strchr(line, '\n');
    if (line_end == nullptr) line_end = line + strlen(line);
    const char* blank = static_cast<const char*>(memchr(line, ' ', line_end - line));
    if (blank == nullptr) return;
    const char* colon = static_cast<const char*>(memchr(blank, ':', line_end - blank));
    if (colon == nullptr || colon + 1 == line_end) return;

    char key[kPropertyValueSize];
    const size_t key_len = static_cast<size_t>(blank - line);
    snprintf(key, sizeof key, "%.*s", static_cast<int>(key_len), line);

    // The value starts after the colon and the blank that follows it.
    const char* start = colon + 1;
    if (*start == ' ') ++start;
    char value[kPropertyValueSize];
    line = CopyValue(start, value);
    if (strcmp(value, "--") == 0) value[0] = '\0';  // mmcli's mark for "no value"
    if (ShowsModemAlive(key, value)) pass.session.lifeSigns.NoteAnswer(ModemWay::kProperties);
    ActOnKey(pass, key, value);
  }
}

void GetModemProperties(ModemPass& pass) {
  pass.session.initialBearerApn[0] = '\0';
  pass.session.bearerApn[0] = '\0';
  pass.session.bearerIndex = -1;

  if (pass.session.modemIndex >= 0 && QueryProperties(pass, "-m", pass.session.modemIndex) != 0 &&
      pass.session.bearerIndex >= 0) {
    QueryProperties(pass, "-b", pass.session.bearerIndex);
  }

  const char* apn = pass.session.bearerApn;
  if (apn[0] == '\0') apn = pass.session.initialBearerApn;
  if (apn[0] == '\0') {
    lookupValue("network.wwan.apn", pass.session.bearerApn, pass.uci, pass.uciPtr, 128);
    apn = pass.session.bearerApn;
    if (apn[0] == '\0') return;
  }
  PrintOutsideText(stdout, "APN: '%s'\n", apn);
  pass.table.UpdateFixed(kApn_s, apn);
}
