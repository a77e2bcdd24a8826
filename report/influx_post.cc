#include "report/influx_post.h"

#include <curl/curl.h>

#include <cstdio>
#include <cstring>

#include "base/clock.h"
#include "base/console_text.h"
#include "base/log.h"
#include "base/url_text.h"
#include "config/daemon_config.h"

namespace {

constexpr char kContentType[] = "Content-Type: application/x-www-form-urlencoded";
constexpr char kMaskedPassword[] = "********";
constexpr int32_t kSlowPostMs = 5000;  // slower posts go to the log, not only the console
// A reply longer than this is not read to its end: the transfer is ended instead.
constexpr size_t kReplyReadLimit = 65536;

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

// Appends `line` to a header list; false when libcurl had no memory.
bool AppendHeader(curl_slist** list, const char* line) {
  curl_slist* grown = curl_slist_append(*list, line);
  if (grown == nullptr) return false;
  *list = grown;
  return true;
}

// The fixed header lines of every request. Accept is left out (InfluxDB ignores it), and so is
// Expect, which would cost a round trip before the body.
bool BuildHeaders(const InfluxRequest& request, bool gzip, curl_slist** list) {
  bool ok = true;
  if (request.authorization[0] != '\0') ok = ok && AppendHeader(list, request.authorization);
  ok = ok && AppendHeader(list, kContentType);
  if (gzip) ok = ok && AppendHeader(list, "Content-Encoding: gzip");
  ok = ok && AppendHeader(list, "Expect:") && AppendHeader(list, "Accept:");
  return ok;
}

// The reply body as it arrives: its first kReplyKeep bytes are kept, the rest counted and dropped.
struct ReplySink {
  PostResult* result;
  size_t total;
};

size_t KeepReply(char* data, size_t size, size_t count, void* user) {
  auto* sink = static_cast<ReplySink*>(user);
  const size_t n = size * count;
  PostResult* r = sink->result;
  const size_t take = n < kReplyKeep - r->replyLength ? n : kReplyKeep - r->replyLength;
  memcpy(r->reply + r->replyLength, data, take);
  r->replyLength += take;
  r->reply[r->replyLength] = '\0';
  sink->total += n;
  return sink->total > kReplyReadLimit ? 0 : n;  // 0 ends the transfer
}

// Called by libcurl about once a second, also while it waits: a set stop flag ends the transfer.
int CheckStop(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto* stop = static_cast<const SignalFlag*>(user);
  return stop != nullptr && *stop != 0 ? 1 : 0;
}

// A 4xx refuses the record's content, except the codes that say the request may pass later: a
// timeout (408), a rate limit (429), and credentials or a database not (yet) right (401, 403,
// 404), which an operator mends without the records being lost meanwhile.
PostOutcome OutcomeOfCode(long code) {
  if (code >= 200 && code <= 299) return PostOutcome::kSent;
  switch (code) {
    case 401: case 403: case 404: case 408: case 429: return PostOutcome::kRetry;
    default: break;
  }
  if (code >= 400 && code <= 499) return PostOutcome::kRefused;
  return PostOutcome::kRetry;
}

// Logs the failed post with the URL (password masked) and the start of the server's reply.
void ReportFailure(const InfluxRequest& request, const PostResult& result) {
  char line[kInfluxUrlSize + kReplyKeep + 32];
  // The reply's own final line end is left out; every control byte inside it is escaped by the log.
  int shown = static_cast<int>(result.replyLength);
  while (shown > 0 && (result.reply[shown - 1] == '\n' || result.reply[shown - 1] == '\r')) --shown;
  if (shown > 0) {
    snprintf(line, sizeof line, "Influx error: %s reply: %.*s\n", request.shownUrl, shown,
             result.reply);
  } else {
    snprintf(line, sizeof line, "Influx error: %s\n", request.shownUrl);
  }
  LogMessageError(line);
}

}  // namespace

int PercentEncode(const char* text, char* out, size_t size) {
  static const char kHex[] = "0123456789ABCDEF";
  size_t len = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    const size_t need = IsUnreserved(c) ? 1 : 3;
    if (len + need >= size) {
      out[len] = '\0';
      return 0;
    }
    if (need == 1) {
      out[len++] = static_cast<char>(c);
    } else {
      out[len++] = '%';
      out[len++] = kHex[c >> 4];
      out[len++] = kHex[c & 0x0F];
    }
  }
  out[len] = '\0';
  return 1;
}

int BuildInfluxRequest(const DaemonConfig& config, InfluxRequest* request) {
  memset(request, 0, sizeof *request);
  // Each value is at most 127 characters, so at most 381 once encoded.
  char first[400];
  char second[400];
  if (config.influxToken[0] != '\0') {
    if (config.influxOrg[0] == '\0' || config.influxBucket[0] == '\0') {
      fprintf(stderr, "Status Post to AWS Influx requires org and bucket values\n");
      return 0;
    }
    PercentEncode(config.influxOrg, first, sizeof first);
    PercentEncode(config.influxBucket, second, sizeof second);
    snprintf(request->url, sizeof request->url, "%s/api/v2/write?org=%s&bucket=%s",
             config.influxUrl, first, second);
    char base[kInfluxUrlSize];
    MaskUrlPassword(config.influxUrl, base, sizeof base);
    snprintf(request->shownUrl, sizeof request->shownUrl, "%s/api/v2/write?org=%s&bucket=%s", base,
             first, second);
    snprintf(request->authorization, sizeof request->authorization, "Authorization: Token %s",
             config.influxToken);
    return 1;
  }
  char password[400];
  PercentEncode(config.database, first, sizeof first);
  PercentEncode(config.userId, second, sizeof second);
  PercentEncode(config.password, password, sizeof password);
  snprintf(request->url, sizeof request->url, "%s/write?db=%s&u=%s&p=%s", config.influxUrl, first,
           second, password);
  char base[kInfluxUrlSize];
  MaskUrlPassword(config.influxUrl, base, sizeof base);
  snprintf(request->shownUrl, sizeof request->shownUrl, "%s/write?db=%s&u=%s&p=%s", base, first,
           second, password[0] != '\0' ? kMaskedPassword : "");
  return 1;
}

void InfluxGlobalInit() { curl_global_init(CURL_GLOBAL_ALL); }

void AddSecondsPrecision(InfluxRequest* request) {
  char* const urls[] = {request->url, request->shownUrl};
  for (char* url : urls) {
    const size_t len = strlen(url);
    snprintf(url + len, kInfluxUrlSize - len, "&precision=s");
  }
}

void PostInflux(const InfluxRequest& request, const char* body, size_t length,
                const PostOptions& options, PostResult* result) {
  InfluxLink link;
  if (!link.Open(request, options, length)) {
    memset(result, 0, sizeof *result);
    result->outcome = PostOutcome::kRetry;
    result->retryAfterS = -1;
    return;
  }
  link.Post(body, length, result);
}

InfluxLink::~InfluxLink() {
  if (handle_ != nullptr) curl_easy_cleanup(static_cast<CURL*>(handle_));
  curl_slist_free_all(static_cast<curl_slist*>(plain_headers_));
  curl_slist_free_all(static_cast<curl_slist*>(gzip_headers_));
}

bool InfluxLink::Open(const InfluxRequest& request, const PostOptions& options, size_t maxBody) {
  static_assert(sizeof error_text_ >= CURL_ERROR_SIZE, "room for libcurl's error text");
  if (handle_ != nullptr) return false;
  request_ = request;
  options_ = options;
  if (options_.compress && !gzip_.Reserve(maxBody)) return false;
  curl_slist* plain = nullptr;
  curl_slist* gzip = nullptr;
  const bool headers_ok =
      BuildHeaders(request_, false, &plain) && (!options_.compress || BuildHeaders(request_, true, &gzip));
  plain_headers_ = plain;
  gzip_headers_ = gzip;
  if (!headers_ok) return false;
  CURL* handle = curl_easy_init();
  if (handle == nullptr) return false;
  handle_ = handle;
  curl_easy_setopt(handle, CURLOPT_URL, request_.url);
  curl_easy_setopt(handle, CURLOPT_POST, 1L);
  curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, error_text_);
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, KeepReply);
  curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, CheckStop);
  curl_easy_setopt(handle, CURLOPT_XFERINFODATA, const_cast<SignalFlag*>(options_.stop));
  // Certificates are always checked: against the configured CA file, else libcurl's bundle.
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
  if (options_.caFile != nullptr && options_.caFile[0] != '\0') {
    curl_easy_setopt(handle, CURLOPT_CAINFO, options_.caFile);
  }
  // The handle's own cache keeps the TLS session, so a new connection resumes it.
  curl_easy_setopt(handle, CURLOPT_SSL_SESSIONID_CACHE, 1L);
  // No signals from libcurl's resolver in a threaded daemon, and a bounded wait for a server
  // that accepts and never answers.
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options_.connectTimeoutMs));
  curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(options_.totalTimeoutMs));
  return true;
}

void InfluxLink::Post(const char* body, size_t length, PostResult* result) {
  memset(result, 0, sizeof *result);
  result->outcome = PostOutcome::kRetry;
  result->retryAfterS = -1;
  const int32_t start = ReadTicks(options_.clock);
  if (options_.debug) {
    printf("URL: %s\n", request_.shownUrl);
    printf("Post Data: '%.*s'\n", static_cast<int>(length), body);
    fflush(stdout);
  }
  if (handle_ == nullptr) return;
  CURL* handle = static_cast<CURL*>(handle_);

  const char* sent = body;
  size_t sent_length = length;
  void* headers = plain_headers_;
  if (options_.compress) {
    const size_t packed = gzip_.Compress(body, length);
    if (packed > 0) {
      sent = gzip_.data();
      sent_length = packed;
      headers = gzip_headers_;
    }
  }
  error_text_[0] = '\0';
  ReplySink sink{result, 0};
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, static_cast<curl_slist*>(headers));
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE, static_cast<long>(sent_length));
  curl_easy_setopt(handle, CURLOPT_POSTFIELDS, sent);
  const CURLcode rc = curl_easy_perform(handle);
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &result->httpCode);

  // A reply cut off by the read limit still has its status code.
  if (rc != CURLE_OK && !(rc == CURLE_WRITE_ERROR && result->httpCode != 0)) {
    result->httpCode = 0;
    fprintf(stderr, "Status Post to Influx got Curl Error: %s", curl_easy_strerror(rc));
    if (error_text_[0] != '\0') {
      fputs(" (", stderr);
      WriteEscaped(stderr, error_text_, strlen(error_text_));
      fputc(')', stderr);
    }
    fputc('\n', stderr);
    ReportFailure(request_, *result);
    return;
  }
  result->outcome = OutcomeOfCode(result->httpCode);
  if (result->outcome == PostOutcome::kSent) {
    const int32_t elapsed = TicksBetween(start, ReadTicks(options_.clock));
    result->durationMs = elapsed;
    char line[256];
    snprintf(line, sizeof line, "Post to Influx database successful (took %d ms)", elapsed);
    if (elapsed <= kSlowPostMs) {
      printf("%s\n", line);
      fflush(stdout);
    } else {
      LogMessage(line);
    }
    return;
  }
  if (result->httpCode == 429 || result->httpCode == 503) {
    // libcurl reads both forms of Retry-After: seconds, or an HTTP date less the current time.
    curl_off_t wait = 0;
    if (curl_easy_getinfo(handle, CURLINFO_RETRY_AFTER, &wait) == CURLE_OK && wait > 0) {
      result->retryAfterS = static_cast<int64_t>(wait);
    }
  }
  fprintf(stderr, "Status Post to Influx got HTTP Response Code: %ld\n", result->httpCode);
  ReportFailure(request_, *result);
}

int64_t RetryHoldSeconds(long httpCode, int64_t retryAfterS) {
  if ((httpCode != 429 && httpCode != 503) || retryAfterS <= 0) return 0;
  return retryAfterS < kMostRetryHoldS ? retryAfterS : kMostRetryHoldS;
}
