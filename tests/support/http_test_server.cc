#include "tests/support/http_test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace {

int ListenLoopback(int port, int* bound_port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  socklen_t len = sizeof addr;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 16) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    close(fd);
    return -1;
  }
  *bound_port = ntohs(addr.sin_port);
  return fd;
}

bool WaitReadable(int fd, int timeout_ms) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, timeout_ms) > 0;
}

const char* ReasonOf(int status) {
  switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 429: return "Too Many Requests";
    case 503: return "Service Unavailable";
    case 500: return "Internal Server Error";
    default: return "Status";
  }
}

}  // namespace

HttpTestServer::HttpTestServer(int status) : status_(status) {
  listen_fd_ = ListenLoopback(0, &port_);
  if (listen_fd_ < 0) {
    fprintf(stderr, "HttpTestServer: cannot listen\n");
    return;
  }
  thread_ = std::thread([this] { Serve(); });
}

HttpTestServer::~HttpTestServer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  for (int fd : held_) close(fd);
  if (listen_fd_ >= 0) close(listen_fd_);
}

void HttpTestServer::SetReply(int status, const std::string& body, bool endless) {
  std::lock_guard<std::mutex> lock(mutex_);
  status_ = status;
  body_ = body;
  endless_ = endless;
}

void HttpTestServer::SetReplyHeaders(const std::string& lines) {
  std::lock_guard<std::mutex> lock(mutex_);
  extra_headers_ = lines;
}

std::string Gunzip(const std::string& packed) {
  z_stream stream{};
  if (inflateInit2(&stream, 15 + 16) != Z_OK) return "<not gzip>";
  std::string out;
  char chunk[4096];
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
  stream.avail_in = static_cast<uInt>(packed.size());
  int rc = Z_OK;
  while (rc == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(chunk);
    stream.avail_out = sizeof chunk;
    rc = inflate(&stream, Z_NO_FLUSH);
    out.append(chunk, sizeof chunk - stream.avail_out);
  }
  inflateEnd(&stream);
  return rc == Z_STREAM_END && stream.avail_in == 0 ? out : "<not gzip>";
}

std::string HttpTestServer::BaseUrl() const { return "http://127.0.0.1:" + std::to_string(port_); }

std::vector<RecordedRequest> HttpTestServer::Requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void HttpTestServer::Serve() {
  while (!stop_) {
    if (!WaitReadable(listen_fd_, 50)) continue;
    int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ++connections_;
    Handle(fd);
  }
}

void HttpTestServer::Handle(int fd) {
  std::string data;
  size_t head_end = std::string::npos;
  size_t body_length = 0;
  char chunk[4096];
  // Read the head, then as much body as Content-Length announces (2 s at most).
  for (int waited = 0; waited < 2000 && !stop_;) {
    if (head_end != std::string::npos && data.size() >= head_end + 4 + body_length) break;
    if (!WaitReadable(fd, 50)) {
      waited += 50;
      continue;
    }
    ssize_t n = read(fd, chunk, sizeof chunk);
    if (n <= 0) break;
    data.append(chunk, static_cast<size_t>(n));
    if (head_end == std::string::npos && (head_end = data.find("\r\n\r\n")) != std::string::npos) {
      const char* length = strcasestr(data.c_str(), "\r\nContent-Length:");
      if (length != nullptr && length < data.c_str() + head_end) {
        body_length = strtoul(length + 17, nullptr, 10);
      }
      const char* expect = strcasestr(data.c_str(), "\r\nExpect: 100-continue");
      if (expect != nullptr && expect < data.c_str() + head_end) {
        static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
        if (write(fd, kContinue, sizeof kContinue - 1) < 0) perror("HttpTestServer write");
      }
    }
  }
  RecordedRequest request;
  if (head_end != std::string::npos) {
    std::string head = data.substr(0, head_end);
    size_t line_end = head.find("\r\n");
    std::string first = head.substr(0, line_end);
    size_t sp1 = first.find(' ');
    size_t sp2 = first.rfind(' ');
    request.method = first.substr(0, sp1);
    if (sp1 != std::string::npos && sp2 > sp1) request.target = first.substr(sp1 + 1, sp2 - sp1 - 1);
    for (size_t pos = line_end; pos != std::string::npos && pos < head.size();) {
      size_t next = head.find("\r\n", pos + 2);
      request.headers.push_back(head.substr(pos + 2, next == std::string::npos ? std::string::npos
                                                                               : next - pos - 2));
      pos = next;
    }
    request.body = data.substr(head_end + 4);
    request.wireLength = request.body.size();
    for (const std::string& h : request.headers) {
      if (strcasecmp(h.c_str(), "Content-Encoding: gzip") == 0) request.gzip = true;
    }
    if (request.gzip) request.body = Gunzip(request.body);
  }
  request.at = std::chrono::steady_clock::now();
  int status;
  std::string body;
  bool endless;
  std::string extra;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
    status = status_;
    body = body_;
    endless = endless_;
    extra = extra_headers_;
  }
  if (status == 0) {
    held_.push_back(fd);
    return;
  }
  std::string reply = "HTTP/1.1 " + std::to_string(status) + " " + ReasonOf(status) + "\r\n";
  if (!endless) reply += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  reply += extra + "Connection: close\r\n\r\n" + body;
  bool open = send(fd, reply.data(), reply.size(), MSG_NOSIGNAL) >= 0;
  while (endless && open && !stop_) open = send(fd, body.data(), body.size(), MSG_NOSIGNAL) >= 0;
  close(fd);
}

int ConnectLoopback(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

HttpReply HttpCall(int port, const std::string& method, const std::string& target,
                   const std::string& body) {
  HttpReply reply;
  const int fd = ConnectLoopback(port);
  if (fd < 0) return reply;
  std::string request = method + " " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n";
  if (!body.empty() || method == "POST") {
    request += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
               std::to_string(body.size()) + "\r\n";
  }
  request += "\r\n" + body;
  if (write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size())) {
    close(fd);
    return reply;
  }
  std::string data;
  char chunk[4096];
  while (WaitReadable(fd, 5000)) {
    ssize_t n = read(fd, chunk, sizeof chunk);
    if (n <= 0) break;
    data.append(chunk, static_cast<size_t>(n));
  }
  close(fd);
  if (data.compare(0, 5, "HTTP/") == 0) reply.status = atoi(data.c_str() + data.find(' ') + 1);
  size_t head_end = data.find("\r\n\r\n");
  if (head_end != std::string::npos) reply.body = data.substr(head_end + 4);
  return reply;
}

std::string UrlEncode(const std::string& text) {
  std::string out;
  char hex[4];
  for (unsigned char c : text) {
    if (isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  return out;
}

int FreeLoopbackPort() {
  int port = 0;
  int fd = ListenLoopback(0, &port);
  if (fd >= 0) close(fd);
  return port;
}
