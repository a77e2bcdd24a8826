// The CGI's configuration: the zel.api options, looked up through the shared UCI access.
#pragma once

#include <cstddef>

#include "cgi/allowed_origin.h"

class UciSource;

constexpr size_t kApiValueSize = 16;  // at most 15 characters kept

// Looks up the dotted option `name` ("package.section.option", extended syntax allowed) and copies
// at most 15 characters of its text into `value` (kApiValueSize bytes). On failure writes
// "Lookup for name: '<name>' failed" to standard error and leaves `value` unchanged. 1 when found.
int LookupApiOption(UciSource& uci, const char* name, char* value);

// What one request needs of the configuration.
struct ApiConfig {
  char status[kApiValueSize] = "";  // "zel.api.status" (empty when it cannot be read)
  char allowOrigin[kOriginSize] = "";
  bool allowOriginSet = false;  // "zel.api.allow_origin" is there (and fitted `allowOrigin`)
  bool allowOriginTooLong = false;
};

// Reads "zel.api.status" (a missing one reported as LookupApiOption does) and the optional
// "zel.api.allow_origin" (missing: no message) from the configuration under
// $MODEM_STATUS_ROOT/etc/config, through one UCI context.
void ReadApiConfig(ApiConfig* config);
