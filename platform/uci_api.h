// The UCI API the programs use: the router's libuci when the build found it, otherwise our own
// reader of UCI configuration files with the same subset. The only file that includes <uci.h>.
#pragma once

#ifdef HAVE_LIBUCI
extern "C" {
#include <uci.h>
}
#else
#include "platform/uci_lite.h"
#endif
