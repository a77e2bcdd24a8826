#include "cgi/api_config.h"

#include <cstdio>

#include "base/paths.h"
#include "config/uci_source.h"

int LookupApiOption(UciSource& uci, const char* name, char* value) {
  const char* text = uci.Find(name);
  if (text != nullptr) {
    snprintf(value, kApiValueSize, "%s", text);
    return 1;
  }
  fprintf(stderr, "Lookup for name: '%s' failed\n", name);
  return 0;
}

void ReadApiConfig(ApiConfig* config) {
  UciSource uci(RouterPathOf(RouterPath::kUciConfigDir));
  if (!uci.Ready()) {
    fprintf(stderr, "Failed to allocate UCI context\n");
    return;
  }
  LookupApiOption(uci, "zel.api.status", config->status);
  const char* origin = uci.Find("zel.api.allow_origin");
  if (origin == nullptr) return;
  config->allowOriginSet = true;
  const int n = snprintf(config->allowOrigin, sizeof config->allowOrigin, "%s", origin);
  config->allowOriginTooLong = n < 0 || static_cast<size_t>(n) >= sizeof config->allowOrigin;
}
