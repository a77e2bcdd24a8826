#include "config/config_lookup.h"

#include <cstdio>
#include <cstring>

#include "base/console_text.h"
#include "base/url_text.h"

namespace {

constexpr int32_t kDefaultSize = 128;
constexpr const char* kCloudHostKey = "zel_cloud.cloud.host";

// Options whose values must not reach the console (and from there the system log).
bool IsSecret(const char* key) {
  return strcmp(key, "zel.status_gather.password") == 0 ||
         strcmp(key, "zel.status_gather.influx_token") == 0;
}

}  // namespace

int lookupValue(const char* key, char* destination, struct uci_context* uci, struct uci_ptr* ptr,
                int32_t size) {
  if (size == 0) size = kDefaultSize;
  // The lookup splits the text it parses in place, so it works on a copy (option keys are short).
  char path[256];
  const size_t key_len = strlen(key);
  if (key_len >= sizeof path) {
    PrintOutsideText(stdout, "Lookup for name: '%s' failed\n", key);
    return 0;
  }
  memcpy(path, key, key_len + 1);
  int rc = uci_lookup_ptr(uci, ptr, path, true);
  if (rc != UCI_OK || !(ptr->flags & uci_ptr::UCI_LOOKUP_COMPLETE) || ptr->o == nullptr ||
      ptr->o->type != UCI_TYPE_STRING || size < 0) {
    if (rc != UCI_OK && rc != UCI_ERR_NOTFOUND) uci_perror(uci, key);
    PrintOutsideText(stdout, "Lookup for name: '%s' failed\n", key);
    return 0;
  }
  const char* value = ptr->o->v.string;
  // A URL may carry a password in its user information.
  char shown[256];
  MaskUrlPassword(value, shown, sizeof shown);
  PrintOutsideText(stdout, "Lookup for name: '%s' = '%s'\n", key,
                   IsSecret(key) && value[0] != '\0' ? "********" : shown);
  if (strcmp(key, kCloudHostKey) == 0 && strstr(value, "://") == nullptr) {
    snprintf(destination, static_cast<size_t>(size), "https://%s", value);
  } else {
    snprintf(destination, static_cast<size_t>(size), "%s", value);
  }
  return 1;
}
