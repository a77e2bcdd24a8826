#include "cgi/cgi_paths.h"

#include <cstdio>
#include <cstdlib>

const char* RootedPath(const char* fixed, char* out, size_t size) {
  const char* root = getenv("MODEM_STATUS_ROOT");
  if (root == nullptr) root = "";
  int n = snprintf(out, size, "%s%s", root, fixed);
  if (n < 0 || static_cast<size_t>(n) >= size) {
    fprintf(stderr, "MODEM_STATUS_ROOT too long, using %s\n", fixed);
    snprintf(out, size, "%s", fixed);
  }
  return out;
}
