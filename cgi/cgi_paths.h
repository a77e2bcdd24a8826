// The CGI's fixed router paths, prefixed with $MODEM_STATUS_ROOT when that is set (the CGI shares
// no code with the daemon, so it keeps this small helper of its own).
#pragma once

#include <cstddef>

constexpr const char* kSnapshotPath = "/tmp/corvane/modemstatus.json";
constexpr const char* kUciConfigDir = "/etc/config";

// Writes the root followed by `fixed` into `out`. When that does not fit, writes `fixed` alone
// with a message on standard error. Returns `out`.
const char* RootedPath(const char* fixed, char* out, size_t size);
