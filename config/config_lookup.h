// Reading one UCI option by its dotted path into a fixed-size buffer.
#pragma once

#include <cstdint>

#include "platform/uci_api.h"

// 1 when the option was found and copied (at most size - 1 characters; size 0 means 128), 0
// otherwise with `destination` left as it was. Prints one line per lookup; secrets masked.
int lookupValue(const char* key, char* destination, struct uci_context* uci, struct uci_ptr* ptr,
                int32_t size);
