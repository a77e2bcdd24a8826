#include "tests/support/tcp_proxy.h"

#include "tests/support/http_test_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

TcpProxy::TcpProxy(int targetPort) : target_port_(targetPort) {
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (listen_fd_ < 0 || bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(listen_fd_, 16) != 0 ||
      getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    return;
  }
  port_ = ntohs(addr.sin_port);
  accept_ = std::thread([this] { Accept(); });
}

TcpProxy::~TcpProxy() {
  stop_ = true;
  if (accept_.joinable()) accept_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  for (std::thread& t : pumps_) t.join();
  if (listen_fd_ >= 0) close(listen_fd_);
}

void TcpProxy::Accept() {
  while (!stop_) {
    pollfd p{listen_fd_, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    int client = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    int server = ConnectLoopback(target_port_);
    if (server < 0) {  // the target is down: the client sees its connection closed
      close(client);
      continue;
    }
    ++connections_;
    std::lock_guard<std::mutex> lock(mutex_);
    pumps_.emplace_back([this, client, server] { Pump(client, server); });
  }
}

// Copies both ways until either side closes, then closes both.
void TcpProxy::Pump(int client, int server) {
  char buffer[16384];
  bool open = true;
  while (open && !stop_) {
    pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
    if (poll(p, 2, 50) <= 0) continue;
    for (int i = 0; i < 2 && open; ++i) {
      if ((p[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      const ssize_t n = read(p[i].fd, buffer, sizeof buffer);
      if (n <= 0) {
        open = false;
        break;
      }
      (i == 0 ? up_ : down_) += n;
      const int to = i == 0 ? server : client;
      for (ssize_t sent = 0; sent < n && open;) {
        const ssize_t w = send(to, buffer + sent, static_cast<size_t>(n - sent), MSG_NOSIGNAL);
        if (w <= 0) open = false;
        sent += w > 0 ? w : 0;
      }
    }
  }
  close(client);
  close(server);
}
