// The value of the reply's Access-Control-Allow-Origin header, from the configured option.
#pragma once

#include <cstddef>

// Room for the configured origin: a scheme, a host name of at most 253 characters and a port.
constexpr size_t kOriginSize = 300;

// What the header carries for the text of "zel.api.allow_origin" (`configured` null: option not
// set). Not set: "*" (every page may read the reply). "*" or one origin "scheme://host[:port]"
// (an IPv6 host in brackets; no path, user, blank, comma or control byte): that text. Empty or
// anything else: null, which leaves the header out, so no other site's page may read the reply.
const char* AllowedOrigin(const char* configured);
