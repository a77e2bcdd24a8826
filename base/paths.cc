#include "base/paths.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kPathCount = static_cast<int>(RouterPath::kCount);
constexpr size_t kMaxPath = 256;

const char* const kFixedPaths[kPathCount] = {
    "/usr/bin/mmcli",
    "/usr/bin/qmicli",
    "/sbin/home-network.sh",
    "/bin/uname",
    "/tmp/corvane/serialNumber",
    "/tmp/corvane/protocol",
    "/tmp/corvane/lte_state.json",
    "/tmp/corvane/gps.socket",
    "/tmp/corvane/modem-statusd.lock",
    "/tmp/corvane/post_state.json",
    "/tmp/corvane/modemstatus.json",
    "/etc/corvane_build_info",
    "/proc/net/dev",
    "/etc/config",
    "/tmp/corvane/influx_backlog.lp",
};

char rooted_paths[kPathCount][kMaxPath];
bool loaded = false;

}  // namespace

const char* RouterPathFixed(RouterPath which) {
  return kFixedPaths[static_cast<int>(which)];
}

void ReloadPathRoot() {
  const char* root = getenv("MODEM_STATUS_ROOT");
  if (root == nullptr) root = "";
  for (int i = 0; i < kPathCount; ++i) {
    int n = snprintf(rooted_paths[i], kMaxPath, "%s%s", root, kFixedPaths[i]);
    if (n < 0 || static_cast<size_t>(n) >= kMaxPath) {
      fprintf(stderr, "MODEM_STATUS_ROOT too long, using %s\n", kFixedPaths[i]);
      snprintf(rooted_paths[i], kMaxPath, "%s", kFixedPaths[i]);
    }
  }
  loaded = true;
}

const char* RouterPathOf(RouterPath which) {
  if (!loaded) ReloadPathRoot();
  return rooted_paths[static_cast<int>(which)];
}
