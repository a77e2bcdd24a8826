#include "base/url_text.h"

#include <cstdio>
#include <cstring>

int MaskUrlPassword(const char* url, char* out, size_t size) {
  if (size == 0) return 0;
  const char* colon = nullptr;
  const char* at = nullptr;
  if (const char* scheme_end = strstr(url, "://")) {
    const char* authority = scheme_end + 3;
    const size_t authority_len = strcspn(authority, "/?#");
    // The user information ends at the last '@' of the authority; its password follows the first
    // ':' in it.
    for (const char* p = authority; p < authority + authority_len; ++p) {
      if (*p == '@') at = p;
    }
    if (at != nullptr) {
      colon = static_cast<const char*>(memchr(authority, ':', static_cast<size_t>(at - authority)));
    }
  }
  int n;
  if (colon == nullptr || colon + 1 == at) {
    n = snprintf(out, size, "%s", url);
  } else {
    n = snprintf(out, size, "%.*s********%s", static_cast<int>(colon + 1 - url), url, at);
  }
  return n >= 0 && static_cast<size_t>(n) < size ? 1 : 0;
}
