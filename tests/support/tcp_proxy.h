// A counting TCP proxy on 127.0.0.1 for tests: forwards every connection to a loopback port and
// counts the connections it forwarded (not those it closed because the target was down) and the
// bytes each way.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

class TcpProxy {
 public:
  explicit TcpProxy(int targetPort);
  ~TcpProxy();
  TcpProxy(const TcpProxy&) = delete;
  TcpProxy& operator=(const TcpProxy&) = delete;

  int port() const { return port_; }
  int Connections() const { return connections_; }
  long BytesUp() const { return up_; }
  long BytesDown() const { return down_; }

 private:
  void Accept();
  void Pump(int client, int server);

  int target_port_;
  int listen_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::atomic<long> up_{0};
  std::atomic<long> down_{0};
  std::mutex mutex_;
  std::vector<std::thread> pumps_;  // guarded by mutex_
  std::thread accept_;
};
