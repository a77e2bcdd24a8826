// modem-status-api: serves the daemon's JSON snapshot as a CGI program.
#include <cstdio>

#include "base/paths.h"
#include "cgi/allowed_origin.h"
#include "cgi/api_config.h"
#include "cgi/status_reply.h"

int main() {
  static ApiConfig config;
  ReadApiConfig(&config);
  const char* origin = nullptr;
  if (!config.allowOriginTooLong) {
    origin = AllowedOrigin(config.allowOriginSet ? config.allowOrigin : nullptr);
  }
  if (origin == nullptr && config.allowOriginSet && config.allowOrigin[0] != '\0') {
    fprintf(stderr,
            "zel.api.allow_origin is neither '*' nor one origin (scheme://host[:port]): "
            "no Access-Control-Allow-Origin header is sent\n");
  }
  WriteStatusReply(stdout, config.status, RouterPathOf(RouterPath::kSnapshot), origin);
  fflush(stdout);
  return 0;
}
