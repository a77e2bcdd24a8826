#include "config/uci_source.h"

#include <cstring>

#include "platform/uci_api.h"

UciSource::UciSource(const char* confDir) : uci_(nullptr) { Open(confDir); }

bool UciSource::Open(const char* confDir) {
  if (uci_ == nullptr) {
    uci_ = uci_alloc_context();
    if (uci_ == nullptr) return false;
    uci_set_confdir(uci_, confDir);
  }
  return true;
}

UciSource::~UciSource() {
  if (uci_ != nullptr) uci_free_context(uci_);
}

const char* UciSource::Find(const char* key) {
  lastResult_ = UCI_OK;
  if (uci_ == nullptr) return nullptr;
  // The lookup splits the text it parses in place, so it works on a copy (option keys are short).
  char path[256];
  const size_t keyLen = strlen(key);
  if (keyLen >= sizeof path) return nullptr;
  memcpy(path, key, keyLen + 1);
  struct uci_ptr ptr;
  memset(&ptr, 0, sizeof ptr);
  lastResult_ = uci_lookup_ptr(uci_, &ptr, path, true);
  if (lastResult_ != UCI_OK || !(ptr.flags & uci_ptr::UCI_LOOKUP_COMPLETE) || ptr.o == nullptr ||
      ptr.o->type != UCI_TYPE_STRING || ptr.o->v.string == nullptr) {
    return nullptr;
  }
  return ptr.o->v.string;
}

void UciSource::ReportLastError(const char* key) {
  if (uci_ != nullptr && lastResult_ != UCI_OK && lastResult_ != UCI_ERR_NOTFOUND) {
    uci_perror(uci_, key);
  }
}
