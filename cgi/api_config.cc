#include "cgi/api_config.h"

#include <cstdio>
#include <cstring>

#include "cgi/cgi_paths.h"
#include "platform/uci_api.h"

namespace {

constexpr size_t kNameSize = 256;
constexpr size_t kPathSize = 512;

// Frees the libuci context on every way out.
class UciContext {
 public:
  UciContext() : uci_(uci_alloc_context()) {}
  ~UciContext() {
    if (uci_ != nullptr) uci_free_context(uci_);
  }
  UciContext(const UciContext&) = delete;
  UciContext& operator=(const UciContext&) = delete;
  struct uci_context* get() const { return uci_; }

 private:
  struct uci_context* uci_;
};

// The option's text, or null when it is not set (or not a single value).
const char* OptionText(struct uci_context* uci, const char* name) {
  char path[kNameSize];  // uci_lookup_ptr cuts the name apart in place
  int n = snprintf(path, sizeof path, "%s", name);
  struct uci_ptr ptr;
  memset(&ptr, 0, sizeof ptr);
  if (uci != nullptr && n > 0 && static_cast<size_t>(n) < sizeof path &&
      uci_lookup_ptr(uci, &ptr, path, true) == UCI_OK && (ptr.flags & uci_ptr::UCI_LOOKUP_COMPLETE) &&
      ptr.o != nullptr && ptr.o->type == UCI_TYPE_STRING && ptr.o->v.string != nullptr) {
    return ptr.o->v.string;
  }
  return nullptr;
}

void SetConfDir(struct uci_context* uci) {
  char confdir[kPathSize];
  uci_set_confdir(uci, RootedPath(kUciConfigDir, confdir, sizeof confdir));
}

}  // namespace

int LookupApiOption(struct uci_context* uci, const char* name, char* value) {
  const char* text = OptionText(uci, name);
  if (text != nullptr) {
    snprintf(value, kApiValueSize, "%s", text);
    return 1;
  }
  fprintf(stderr, "Lookup for name: '%s' failed\n", name);
  return 0;
}

int ReadApiStatus(char* value) {
  UciContext uci;
  if (uci.get() == nullptr) {
    fprintf(stderr, "Failed to allocate UCI context\n");
    return 0;
  }
  SetConfDir(uci.get());
  return LookupApiOption(uci.get(), "zel.api.status", value);
}

void ReadApiConfig(ApiConfig* config) {
  UciContext uci;
  if (uci.get() == nullptr) {
    fprintf(stderr, "Failed to allocate UCI context\n");
    return;
  }
  SetConfDir(uci.get());
  LookupApiOption(uci.get(), "zel.api.status", config->status);
  const char* origin = OptionText(uci.get(), "zel.api.allow_origin");
  if (origin == nullptr) return;
  config->allowOriginSet = true;
  const int n = snprintf(config->allowOrigin, sizeof config->allowOrigin, "%s", origin);
  config->allowOriginTooLong = n < 0 || static_cast<size_t>(n) >= sizeof config->allowOrigin;
}
