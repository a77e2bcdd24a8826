// Feeds arbitrary text to the built-in UCI reader as the file of package "zel" and looks up the
// options the programs read, in plain and extended syntax, and the error text of a failed load.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/uci_api.h"

namespace {

ScratchDir* dir = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  QuietStdout();
  static ScratchDir scratch;
  dir = &scratch;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WriteInputFile(*dir / "zel", data, size);
  uci_context* ctx = uci_alloc_context();
  if (ctx == nullptr) abort();
  if (uci_set_confdir(ctx, dir->path().c_str()) != UCI_OK) abort();

  static const char* const kPaths[] = {
      "zel.api.status",
      "zel.status_gather.poll",
      "zel.@status_gather[0].period",
      "zel.@status_gather[-1].influx_url",
      "zel.@api[1].status",
      "zel.@[0].enabled",
      "zel.@status_gather[0]",
      "zel.api",
  };
  for (const char* path : kPaths) {
    char text[64];
    strncpy(text, path, sizeof text - 1);
    text[sizeof text - 1] = '\0';
    uci_ptr ptr{};
    const int rc = uci_lookup_ptr(ctx, &ptr, text, true);
    if (rc == UCI_OK && (ptr.flags & uci_ptr::UCI_LOOKUP_COMPLETE) != 0 && ptr.o != nullptr &&
        ptr.o->type == UCI_TYPE_STRING) {
      if (ptr.o->v.string == nullptr) abort();
      volatile size_t len = strlen(ptr.o->v.string);
      (void)len;
    }
    if (rc != UCI_OK) {
      char* message = nullptr;
      uci_get_errorstr(ctx, &message, "fuzz");
      free(message);
    }
  }
  uci_free_context(ctx);
  return 0;
}
