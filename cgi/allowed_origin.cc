#include "cgi/allowed_origin.h"

#include <cstring>

namespace {

bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHex(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// A host name or IPv4 address (letters, digits, dots, hyphens) or an IPv6 address in brackets.
// Returns the position after it, or null when there is none.
const char* SkipHost(const char* p) {
  const char* start = p;
  if (*p == '[') {
    ++p;
    while (IsHex(*p) || *p == ':' || *p == '.') ++p;
    return *p == ']' && p - start > 1 ? p + 1 : nullptr;
  }
  while (IsAlpha(*p) || IsDigit(*p) || *p == '.' || *p == '-') ++p;
  return p - start > 0 && p - start <= 253 ? p : nullptr;
}

// "scheme://host[:port]" and nothing else.
bool IsOneOrigin(const char* text) {
  const char* p = text;
  if (!IsAlpha(*p)) return false;
  while (IsAlpha(*p) || IsDigit(*p) || *p == '+' || *p == '-' || *p == '.') ++p;
  if (strncmp(p, "://", 3) != 0) return false;
  p = SkipHost(p + 3);
  if (p == nullptr) return false;
  if (*p == ':') {
    ++p;
    long port = 0;
    int digits = 0;
    while (IsDigit(*p) && digits < 6) port = port * 10 + (*p++ - '0'), ++digits;
    if (digits == 0 || port == 0 || port > 65535) return false;
  }
  return *p == '\0';
}

}  // namespace

const char* AllowedOrigin(const char* configured) {
  if (configured == nullptr) return "*";
  if (strcmp(configured, "*") == 0 || IsOneOrigin(configured)) return configured;
  return nullptr;
}
