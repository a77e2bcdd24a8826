#include "location/gps_listener.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "base/signals.h"
#include "base/stop_event.h"
#include "status/status_table.h"
#include "tests/support/fake_board.h"
#include "tests/support/table_access.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kNorthEast =
    "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47";
constexpr const char* kSouthWest =
    "$GPGGA,123519,4807.038,S,01131.000,W,1,08,0.9,545.4,M,46.9,M,,*47\r\n";

// The listener on its own thread, reading one end of a datagram socket pair.
class GpsListenerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_DGRAM, 0, fds_));
    listener_.socket = fds_[0];
    listener_.table = &table_;
    listener_.board = &board_;
  }
  void TearDown() override {
    if (running_) StopAndJoin();
    close(fds_[0]);
    close(fds_[1]);
  }

  // Each run of the listener has a stop event of its own.
  void Start() {
    stop_ = std::make_unique<StopEvent>();
    listener_.stop = stop_.get();
    ASSERT_EQ(0, StartThreadWithDaemonSignalsBlocked(&thread_, RunGpsListenerThread, &listener_));
    running_ = true;
  }

  // Milliseconds from the stop request to the thread's end.
  long StopAndJoin() {
    const auto start = Clock::now();
    stop_->Signal();
    pthread_join(thread_, nullptr);
    running_ = false;
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
  }

  void Send(const std::string& datagram) {
    ASSERT_EQ(static_cast<ssize_t>(datagram.size()),
              send(fds_[1], datagram.data(), datagram.size(), 0));
  }

  std::string Value(uint32_t index) const { return EntryOf(table_, index).value; }

  bool WaitForValue(uint32_t index, const std::string& expected, int timeout_ms = 3000) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (Clock::now() < deadline) {
      if (Value(index) == expected) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

  StatusTable table_;
  GpsListener listener_;
  RecordingBoard board_;
  int fds_[2] = {-1, -1};
  std::unique_ptr<StopEvent> stop_;
  pthread_t thread_{};
  bool running_ = false;
};

// Datagrams sent before the listener runs wait in the socket's queue.
TEST_F(GpsListenerTest, DatagramsSentBeforeTheStartArrive) {
  Send(kNorthEast);
  Start();
  EXPECT_TRUE(WaitForValue(kLat_f, "48.117300"));
  EXPECT_EQ(kNorthEast, Value(kNMEA_s));
}

// An empty datagram is skipped; one longer than 264 bytes is cut and the next arrives whole,
// without its line end.
TEST_F(GpsListenerTest, EmptyAndLongDatagrams) {
  listener_.debug = true;
  testing::internal::CaptureStdout();
  Start();
  const std::string long_text = std::string(kNorthEast) + std::string(400, 'x');
  Send("");
  Send(long_text);
  Send(kSouthWest);
  const bool arrived = WaitForValue(kLat_f, "-48.117300");
  StopAndJoin();
  const std::string out = testing::internal::GetCapturedStdout();
  ASSERT_TRUE(arrived);
  EXPECT_NE(std::string::npos, out.find("GPS recvfrom: 0\n"));
  EXPECT_NE(std::string::npos, out.find("GPS recvfrom: 264\n"));
  EXPECT_NE(std::string::npos,
            out.find("Location Update from GPS daemon: \"" + long_text.substr(0, 264) + "\"\n"));
  EXPECT_NE(std::string::npos,
            out.find("Location Update from GPS daemon: \"" +
                     std::string(kSouthWest).substr(0, strlen(kSouthWest) - 2) + "\"\n"));
  EXPECT_NE(std::string::npos, out.find("Exit gpsSocketHandler\n"));
  EXPECT_EQ(2u, board_.Calls().size());
}

TEST_F(GpsListenerTest, EndsWithinASecondOfStopRequest) {
  Start();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_LT(StopAndJoin(), 1000);
}

}  // namespace
