#include "report/influx_post.h"

#include <curl/curl.h>

#include <cstdio>
#include <cstring>

#include "daemon/clock.h"
#include "daemon/context.h"
#include "daemon/log.h"

namespace {

constexpr char kContentType[] = "Content-Type: application/x-www-form-urlencoded";
constexpr char kMaskedPassword[] = "********";
constexpr int32_t kSlowPostMs = 5000;  // slower posts go to the log, not only the console

int32_t connect_timeout_ms = kInfluxConnectTimeoutMs;
int32_t total_timeout_ms = kInfluxTotalTimeoutMs;

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

// Owns a curl easy handle.
class CurlHandle {
 public:
  CurlHandle() : handle_(curl_easy_init()) {}
  ~CurlHandle() {
    if (handle_ != nullptr) curl_easy_cleanup(handle_);
  }
  CurlHandle(const CurlHandle&) = delete;
  CurlHandle& operator=(const CurlHandle&) = delete;
  CURL* get() const { return handle_; }

 private:
  CURL* handle_;
};

// Owns a curl header list.
class CurlHeaders {
 public:
  CurlHeaders() = default;
  ~CurlHeaders() { Free(); }
  CurlHeaders(const CurlHeaders&) = delete;
  CurlHeaders& operator=(const CurlHeaders&) = delete;
  // 1 when the line was added.
  int Append(const char* line) {
    curl_slist* grown = curl_slist_append(list_, line);
    if (grown == nullptr) return 0;
    list_ = grown;
    return 1;
  }
  void Free() {
    curl_slist_free_all(list_);
    list_ = nullptr;
  }
  curl_slist* get() const { return list_; }

 private:
  curl_slist* list_ = nullptr;
};

// Logs the failed post with the URL (password masked) and echoes the record that was lost.
void ReportFailure(const InfluxRequest& request, const char* record, size_t length) {
  char result[kInfluxUrlSize + 32];
  snprintf(result, sizeof result, "Influx error: %s\n", request.shownUrl);
  LogMessageError(result);
  fprintf(stderr, "%.*s\n", static_cast<int>(length), record);
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

int BuildInfluxRequest(const GatherConfig& config, InfluxRequest* request) {
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
    snprintf(request->shownUrl, sizeof request->shownUrl, "%s", request->url);
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
  snprintf(request->shownUrl, sizeof request->shownUrl, "%s/write?db=%s&u=%s&p=%s",
           config.influxUrl, first, second, password[0] != '\0' ? kMaskedPassword : "");
  return 1;
}

void SetInfluxTimeoutsForTest(int32_t connectMs, int32_t totalMs) {
  connect_timeout_ms = connectMs > 0 ? connectMs : kInfluxConnectTimeoutMs;
  total_timeout_ms = totalMs > 0 ? totalMs : kInfluxTotalTimeoutMs;
}

void GetInfluxTimeouts(int32_t* connectMs, int32_t* totalMs) {
  *connectMs = connect_timeout_ms;
  *totalMs = total_timeout_ms;
}

void InfluxGlobalInit() { curl_global_init(CURL_GLOBAL_ALL); }

int statusPostData(GatherContext* ctx, const char* record, int32_t* durationMs, size_t maxLength) {
  *durationMs = 0;
  const int32_t start = GetTicks();
  InfluxRequest request;
  if (!BuildInfluxRequest(*ctx->config, &request)) return 0;
  const size_t length = strnlen(record, maxLength);

  if (ctx->debug) {
    printf("URL: %s\n", request.shownUrl);
    printf("Post Data: '%.*s'\n", static_cast<int>(length), record);
    fflush(stdout);
  }

  CurlHandle curl;
  if (curl.get() == nullptr) return 0;
  CURL* handle = curl.get();
  curl_easy_setopt(handle, CURLOPT_URL, request.url);
  CurlHeaders headers;
  if (request.authorization[0] != '\0') headers.Append(request.authorization);
  headers.Append(kContentType);
  curl_easy_setopt(handle, CURLOPT_POST, 1L);
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(handle, CURLOPT_POSTFIELDSIZE, static_cast<long>(length));
  curl_easy_setopt(handle, CURLOPT_POSTFIELDS, record);
  // No signals from libcurl's resolver in a threaded daemon, and a bounded wait for a server
  // that accepts and never answers.
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connect_timeout_ms));
  curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, static_cast<long>(total_timeout_ms));
  const CURLcode rc = curl_easy_perform(handle);
  headers.Free();

  if (rc != CURLE_OK) {
    fprintf(stderr, "Status Post to Influx got Curl Error: %s\n", curl_easy_strerror(rc));
    ReportFailure(request, record, length);
    return 0;
  }
  long code = 0;
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &code);
  if (code >= 200 && code <= 299) {
    const int32_t elapsed = TicksBetween(start, GetTicks());
    *durationMs = elapsed;
    char result[256];
    snprintf(result, sizeof result, "Post to Influx database successful (took %d ms)", elapsed);
    if (elapsed <= kSlowPostMs) {
      printf("%s\n", result);
      fflush(stdout);
    } else {
      LogMessage(result);
    }
    return 1;
  }
  fprintf(stderr, "Status Post to Influx got HTTP Response Code: %ld\n", code);
  ReportFailure(request, record, length);
  return 0;
}
