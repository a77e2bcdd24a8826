#include "config/config_lookup.h"

#include <cstdio>
#include <cstring>

#include "base/console_text.h"
#include "base/url_text.h"
#include "config/uci_source.h"

namespace {

constexpr int32_t kDefaultSize = 128;
constexpr const char* kCloudHostKey = "zel_cloud.cloud.host";

// Options whose values must not reach the console (and from there the system log).
bool IsSecret(const char* key) {
  return strcmp(key, "zel.status_gather.password") == 0 ||
         strcmp(key, "zel.status_gather.influx_token") == 0;
}

}  // namespace

void ShowLookup(const char* key, const char* value) {
  if (value == nullptr) {
    PrintOutsideText(stdout, "Lookup for name: '%s' failed\n", key);
    return;
  }
  // A URL may carry a password in its user information.
  char shown[256];
  MaskUrlPassword(value, shown, sizeof shown);
  PrintOutsideText(stdout, "Lookup for name: '%s' = '%s'\n", key,
                   IsSecret(key) && value[0] != '\0' ? "********" : shown);
}

int LookupValue(UciSource& uci, const char* key, char* destination, int32_t size) {
  if (size == 0) size = kDefaultSize;
  const char* value = size < 0 ? nullptr : uci.Find(key);
  if (value == nullptr) {
    if (size > 0) uci.ReportLastError(key);
    ShowLookup(key, nullptr);
    return 0;
  }
  ShowLookup(key, value);
  if (strcmp(key, kCloudHostKey) == 0 && strstr(value, "://") == nullptr) {
    snprintf(destination, static_cast<size_t>(size), "https://%s", value);
  } else {
    snprintf(destination, static_cast<size_t>(size), "%s", value);
  }
  return 1;
}
