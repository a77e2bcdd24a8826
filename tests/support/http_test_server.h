// A small HTTP endpoint on 127.0.0.1 that records every request and answers with a chosen status
// (or never answers), and a plain HTTP client for talking to local servers in tests.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct RecordedRequest {
  std::string method;
  std::string target;                // path and query as sent
  std::vector<std::string> headers;  // header lines in the order received, without CRLF
  std::string body;                  // as sent, or unpacked when it came gzip-compressed
  bool gzip = false;                 // it came with "Content-Encoding: gzip"
  size_t wireLength = 0;             // body bytes on the wire
  std::chrono::steady_clock::time_point at;  // when it was read
};

// The text of a gzip member, or "<not gzip>" when `packed` is not one.
std::string Gunzip(const std::string& packed);

class HttpTestServer {
 public:
  // Listens on a free loopback port; `status` 0 means accept and read but never answer.
  explicit HttpTestServer(int status = 204);
  ~HttpTestServer();
  HttpTestServer(const HttpTestServer&) = delete;
  HttpTestServer& operator=(const HttpTestServer&) = delete;

  int port() const { return port_; }
  std::string BaseUrl() const;
  std::vector<RecordedRequest> Requests();
  int Connections() const { return connections_; }
  // Later requests get `status` with `body`; an endless reply repeats the body until the client
  // closes the connection.
  void SetReply(int status, const std::string& body = "", bool endless = false);
  // Header lines (each ended by CRLF) added to later replies.
  void SetReplyHeaders(const std::string& lines);

 private:
  void Serve();
  void Handle(int fd);

  int status_;           // guarded by mutex_
  std::string body_;     // guarded by mutex_
  bool endless_ = false; // guarded by mutex_
  std::string extra_headers_;  // guarded by mutex_
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::mutex mutex_;
  std::vector<RecordedRequest> requests_;
  std::vector<int> held_;  // connections left unanswered until the server stops
  std::thread thread_;
};

struct HttpReply {
  int status = 0;  // 0 when there was no answer
  std::string body;
};

// One HTTP/1.0 request to 127.0.0.1:port.
// A TCP connection to 127.0.0.1:port (close-on-exec), or -1.
int ConnectLoopback(int port);

HttpReply HttpCall(int port, const std::string& method, const std::string& target,
                   const std::string& body = "");

// Percent-encoding of a query value.
std::string UrlEncode(const std::string& text);

// A loopback TCP port that was free a moment ago.
int FreeLoopbackPort();
