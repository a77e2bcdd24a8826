// Placeholder until the UCI file reader lands: every lookup fails.
#include "platform/uci_api.h"

#ifndef HAVE_LIBUCI
struct uci_context {
  int unused;
};

struct uci_context* uci_alloc_context(void) { return new uci_context{}; }
void uci_free_context(struct uci_context* ctx) { delete ctx; }
int uci_set_confdir(struct uci_context*, const char*) { return UCI_OK; }
int uci_lookup_ptr(struct uci_context*, struct uci_ptr*, char*, bool) { return UCI_ERR_NOTFOUND; }
#endif
