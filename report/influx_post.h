// The HTTP(S) post of an Influx record to the version 1 or version 2 write API.
#pragma once

#include <cstddef>
#include <cstdint>

struct GatherContext;
struct GatherConfig;

// 1 when the server answered 2xx; `durationMs` gets the post's duration on success, else 0.
// libcurl's global initialisation (all facilities); start-up calls it once when posting is on.
void InfluxGlobalInit();

int statusPostData(GatherContext* ctx, const char* record, int32_t* durationMs, size_t maxLength);

// Room for the base URL and four query values of 127 characters, each percent-encoded.
constexpr size_t kInfluxUrlSize = 1664;
constexpr size_t kInfluxHeaderSize = 404;

// The write request of one post: a non-empty token selects the version 2 API.
struct InfluxRequest {
  char url[kInfluxUrlSize];
  char shownUrl[kInfluxUrlSize];             // url with the password masked, for messages
  char authorization[kInfluxHeaderSize];     // "Authorization: Token ..." or empty (version 1)
};

// Fills `request` from the configuration with the query values percent-encoded. Returns 1, or 0
// with a message on standard error when a token is set without org and bucket.
int BuildInfluxRequest(const GatherConfig& config, InfluxRequest* request);

// Percent-encodes every byte of `text` but letters, digits and "-._~" into `out` (size bytes,
// always terminated). Returns 1, or 0 when it was cut short.
int PercentEncode(const char* text, char* out, size_t size);

// Transfer time limits of a post in milliseconds: connect and total.
constexpr int32_t kInfluxConnectTimeoutMs = 10000;
constexpr int32_t kInfluxTotalTimeoutMs = 30000;
// Tests shorten the limits; values of 0 restore the ones above.
void SetInfluxTimeoutsForTest(int32_t connectMs, int32_t totalMs);
void GetInfluxTimeouts(int32_t* connectMs, int32_t* totalMs);
