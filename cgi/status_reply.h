// The CGI's reply: the header block and one of three bodies (disabled, the snapshot, an empty list).
#pragma once

#include <cstdio>

constexpr size_t kSnapshotReadSize = 32768;

// Writes the whole reply to `out`. `apiStatus` is the configured "zel.api.status" text (empty when
// it could not be read); `snapshotPath` the file to serve; `allowOrigin` the value of the
// Access-Control-Allow-Origin header (null: the header is left out).
void WriteStatusReply(FILE* out, const char* apiStatus, const char* snapshotPath,
                      const char* allowOrigin);
