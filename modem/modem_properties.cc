#include "modem/modem_properties.h"

#include <cstdio>
#include <cstring>

#include "base/console_text.h"
#include "config/network_options.h"
#include "modem/collectors.h"
#include "modem/modem_pass.h"
#include "modem/modem_session.h"
#include "status/status_table.h"

namespace {

// The echo of a property taken, named by its key in ModemManager's key-value listing.
void Echo(const char* key, const char* value) {
  PrintOutsideText(stdout, "Key: '%s' Value: '%s'\n", key, value);
}

void AnnounceRequest(ModemPass& pass, const char* flag, int32_t index) {
  PrintOutsideText(stdout, "Sending command: %s %s %d -K\n", pass.manager.TraceName(), flag, index);
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

void StoreModemProperties(ModemPass& pass, const ModemProperties& properties) {
  ModemSession* session = &pass.session;
  if (PropertiesShowModemAlive(properties)) session->lifeSigns.NoteAnswer(ModemWay::kProperties);
  if (properties.ownNumber.present) {
    char number[kPropertyValueSize];
    FormatPhoneNumber(properties.ownNumber.text, number, sizeof number);
    pass.table.UpdateFixed(kPhoneNumber_s, number);
    PrintOutsideText(stdout, "Phone Number: %s\n", number);
    Echo("modem.generic.own-numbers.value[1]", properties.ownNumber.text);
  }
  if (properties.signalQuality.present) {
    char percent[10] = "";
    if (properties.signalQuality.text[0] != '\0') {
      snprintf(percent, sizeof percent, "%s%%", properties.signalQuality.text);
    }
    pass.table.Update(kSignalPercent_s, percent, 0);
    Echo("modem.generic.signal-quality.value", properties.signalQuality.text);
  }
  if (properties.imei.present) {
    pass.table.UpdateFixed(kIMEI_s, properties.imei.text);
    Echo("modem.3gpp.imei", properties.imei.text);
  }
  if (properties.initialBearerApn.present) {
    snprintf(session->initialBearerApn, sizeof session->initialBearerApn, "%s",
             properties.initialBearerApn.text);
    Echo("modem.3gpp.eps.initial-bearer.settings.apn", properties.initialBearerApn.text);
  }
  if (properties.firstBearer.present) {
    const int32_t bearer = BearerIndexOf(properties.firstBearer);
    if (bearer >= 0) session->bearerIndex = bearer;
    Echo("modem.generic.bearers.value[1]", properties.firstBearer.text);
  }
}

void StoreBearerProperties(ModemPass& pass, const BearerProperties& bearer) {
  if (!bearer.apn.present) return;
  snprintf(pass.session.bearerApn, sizeof pass.session.bearerApn, "%s", bearer.apn.text);
  Echo("bearer.properties.apn", bearer.apn.text);
}

void GetModemProperties(ModemPass& pass) {
  ModemSession* session = &pass.session;
  session->initialBearerApn[0] = '\0';
  session->bearerApn[0] = '\0';
  session->bearerIndex = -1;

  if (session->modemIndex >= 0) {
    AnnounceRequest(pass, "-m", session->modemIndex);
    ModemProperties properties{};
    if (pass.manager.ReadModem(session->modemIndex, session->cmdTotalMs, &properties) ==
        MmAnswer::kAnswered) {
      StoreModemProperties(pass, properties);
      if (session->bearerIndex >= 0) {
        AnnounceRequest(pass, "-b", session->bearerIndex);
        BearerProperties bearer{};
        if (pass.manager.ReadBearer(session->bearerIndex, session->cmdTotalMs, &bearer) ==
            MmAnswer::kAnswered) {
          StoreBearerProperties(pass, bearer);
        }
      }
    }
  }

  const char* apn = session->bearerApn;
  if (apn[0] == '\0') apn = session->initialBearerApn;
  if (apn[0] == '\0') {
    // The configured APN stands in when the modem names none.
    const NetworkOption<kApnSize>& option = pass.network.wwanApn;
    ShowNetworkOption(kWwanApnKey, option);
    if (option.found) {
      snprintf(session->bearerApn, sizeof session->bearerApn, "%s", option.text);
    }
    apn = session->bearerApn;
    if (apn[0] == '\0') return;
  }
  PrintOutsideText(stdout, "APN: '%s'\n", apn);
  pass.table.UpdateFixed(kApn_s, apn);
}
