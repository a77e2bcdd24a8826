// modem-status-api: serves the daemon's JSON snapshot as a CGI program.
#include <cstdio>

#include "cgi/api_config.h"
#include "cgi/cgi_paths.h"
#include "cgi/status_reply.h"

int main() {
  char api_status[kApiValueSize] = "";
  ReadApiStatus(api_status);
  char snapshot[512];
  WriteStatusReply(stdout, api_status, RootedPath(kSnapshotPath, snapshot, sizeof snapshot));
  fflush(stdout);
  return 0;
}
