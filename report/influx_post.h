// The HTTP(S) post of an Influx record to the version 1 or version 2 write API.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/clock.h"
#include "base/signals.h"
#include "report/gzip_body.h"

struct DaemonConfig;

// libcurl's global initialisation (all facilities); start-up calls it once when posting is on.
void InfluxGlobalInit();

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
int BuildInfluxRequest(const DaemonConfig& config, InfluxRequest* request);

// Percent-encodes every byte of `text` but letters, digits and "-._~" into `out` (size bytes,
// always terminated). Returns 1, or 0 when it was cut short.
int PercentEncode(const char* text, char* out, size_t size);

// Transfer time limits of a post in milliseconds: connect and total.
constexpr int32_t kInfluxConnectTimeoutMs = 10000;
constexpr int32_t kInfluxTotalTimeoutMs = 30000;

// What became of a post: sent (2xx); worth sending again later (no connection, DNS, TLS, time-out,
// stop requested, 5xx, 429, 408, other non-4xx codes); or refused by the server for its content
// (any other 4xx), so sending it again would fail the same way.
enum class PostOutcome { kSent, kRetry, kRefused };

// The most of a server's reply body that is kept for the error line.
constexpr size_t kReplyKeep = 256;

struct PostResult {
  PostOutcome outcome;
  long httpCode;                // 0 when no reply came
  int32_t durationMs;           // set when sent
  char reply[kReplyKeep + 1];   // the reply body's first bytes, raw, terminated
  size_t replyLength;
  int64_t retryAfterS;          // seconds a 429 or 503 asked to wait (Retry-After), -1 when none
};

struct PostOptions {
  const char* caFile = "";                // CA bundle for HTTPS; empty: libcurl's default bundle
  const SignalFlag* stop = nullptr;       // a transfer in progress ends within about a second once set
  bool debug = false;                     // prints the URL and the body first
  bool compress = false;                  // sends the body gzip-compressed (Content-Encoding)
  int32_t connectTimeoutMs = kInfluxConnectTimeoutMs;
  int32_t totalTimeoutMs = kInfluxTotalTimeoutMs;
  MonotonicReader clock = SystemMonotonic;  // measures each post's duration
};

// Posts `length` bytes of `body` to `request` and classifies the outcome; prints the outcome line
// (success, curl error with its reason, or response code) and on failure logs "Influx error" with
// the URL (password masked) and the reply's first kReplyKeep bytes. The rest of a reply is read
// and discarded up to a limit, after which the transfer is ended. A one-off InfluxLink.
void PostInflux(const InfluxRequest& request, const char* body, size_t length,
                const PostOptions& options, PostResult* result);

// One libcurl handle kept for a run of posts to one request: the connection, the DNS answer and
// the TLS session are reused while the server keeps them, and a connection the server closed is
// followed by a resumed TLS session where the server allows it. No "Expect: 100-continue" round
// trip. Everything is set up by Open; a post allocates nothing of ours (libcurl's own bookkeeping
// aside).
class InfluxLink {
 public:
  InfluxLink() = default;
  ~InfluxLink();
  InfluxLink(const InfluxLink&) = delete;
  InfluxLink& operator=(const InfluxLink&) = delete;

  // Keeps `request` and `options`, creates the handle with its fixed options and, when
  // options.compress is set, reserves the compression of bodies of up to `maxBody` bytes. False
  // when the handle or the memory could not be had.
  bool Open(const InfluxRequest& request, const PostOptions& options, size_t maxBody);

  // Posts as PostInflux does. A body longer than reserved for compression goes uncompressed.
  void Post(const char* body, size_t length, PostResult* result);

 private:
  InfluxRequest request_{};
  PostOptions options_;
  void* handle_ = nullptr;         // CURL*
  void* plain_headers_ = nullptr;  // curl_slist*
  void* gzip_headers_ = nullptr;   // curl_slist*, with Content-Encoding: gzip
  GzipBody gzip_;
  char error_text_[256] = "";      // libcurl's CURL_ERROR_SIZE
};

// The hold before the next attempt that a reply asks for: Retry-After seconds of a 429 or 503,
// at most an hour; 0 for any other reply or no Retry-After.
int64_t RetryHoldSeconds(long httpCode, int64_t retryAfterS);
constexpr int64_t kMostRetryHoldS = 3600;

// Adds "&precision=s" to the request, for bodies whose lines end in a time in seconds.
void AddSecondsPrecision(InfluxRequest* request);
