#include "modem/modem_manager_link.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

void KeepProperty(PropertyText* property, const char* text) {
  property->present = true;
  snprintf(property->text, sizeof property->text, "%s", strcmp(text, "--") == 0 ? "" : text);
}

bool ReadModemNumber(const char* token, int32_t* index) {
  if (token[0] == '\0') return false;
  errno = 0;
  char* end = nullptr;
  const long number = strtol(token, &end, 10);
  if (errno != 0 || *end != '\0' || number < 0 || number > INT32_MAX) return false;
  *index = static_cast<int32_t>(number);
  return true;
}

int32_t BearerIndexOf(const PropertyText& firstBearer) {
  if (!firstBearer.present) return -1;
  const char* bearer = strstr(firstBearer.text, "/Bearer/");
  return bearer != nullptr ? atoi(bearer + 8) : -1;
}

bool PropertiesShowModemAlive(const ModemProperties& properties) {
  const PropertyText& quality = properties.signalQuality;
  if (quality.present && quality.text[0] != '\0' && strcmp(quality.text, "0") != 0) return true;
  return (properties.imei.present && properties.imei.text[0] != '\0') ||
         (properties.revision.present && properties.revision.text[0] != '\0');
}
