// GPS sentences sent to the running daemon's socket: the stored position in the JSON snapshot,
// the fix register command, and a flood while the main loop polls.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/sim_router.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kStartMs = 15000;
constexpr int kSnapshotMs = 15000;

// One entry of the snapshot file (empty value when missing).
struct SnapshotEntry {
  std::string value;
  long long last_update = 0;
};

SnapshotEntry FindEntry(const std::string& json, const std::string& name) {
  const std::string head = "{\"name\":\"" + name + "\",\"value\":\"";
  const std::string update_key = "\",\"lastUpdate\":\"";
  const size_t pos = json.find(head);
  const size_t change = json.find("\",\"lastChange\":\"", pos);
  const size_t update = json.find(update_key, pos);
  if (pos == std::string::npos || change == std::string::npos || update == std::string::npos) {
    return {};
  }
  return {json.substr(pos + head.size(), change - pos - head.size()),
          atoll(json.c_str() + update + update_key.size())};
}

long long SnapshotTime(const std::string& json) {
  const std::string key = "{\"time\": ";
  return json.compare(0, key.size(), key) == 0 ? atoll(json.c_str() + key.size()) : -1;
}

// hhmmss of `t` in UTC.
std::string UtcClock(time_t t) {
  struct tm broken {};
  gmtime_r(&t, &broken);
  char text[8];
  snprintf(text, sizeof text, "%02d%02d%02d", broken.tm_hour, broken.tm_min, broken.tm_sec);
  return text;
}

std::string Gga(const std::string& time, const std::string& lat, const char* ns,
                const std::string& lon, const char* ew, const std::string& alt) {
  return "$GPGGA," + time + "," + lat + "," + ns + "," + lon + "," + ew + ",1,08,0.9," + alt +
         ",M,46.9,M,,*47";
}

// Sends one datagram from an unbound socket.
class GpsSender {
 public:
  explicit GpsSender(std::string path) : path_(std::move(path)) {
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  }
  ~GpsSender() {
    if (fd_ >= 0) close(fd_);
  }
  GpsSender(const GpsSender&) = delete;
  GpsSender& operator=(const GpsSender&) = delete;

  bool Send(const std::string& datagram) const {
    struct sockaddr_un address {};
    address.sun_family = AF_UNIX;
    snprintf(address.sun_path, sizeof address.sun_path, "%s", path_.c_str());
    return sendto(fd_, datagram.data(), datagram.size(), 0,
                  reinterpret_cast<struct sockaddr*>(&address), sizeof address) ==
           static_cast<ssize_t>(datagram.size());
  }

 private:
  std::string path_;
  int fd_ = -1;
};

class LocationE2E : public ::testing::Test {
 protected:
  std::unique_ptr<DaemonProcess> StartDaemon(const std::vector<std::string>& env = {}) {
    auto daemon = std::make_unique<DaemonProcess>(
        sim_, std::vector<std::string>{"-j", sim_.Path("tmp/corvane/modemstatus.json")}, env);
    EXPECT_TRUE(daemon->WaitForOutput("GPS socket created: ", kStartMs)) << daemon->Output();
    sender_ = std::make_unique<GpsSender>(sim_.Path("tmp/corvane/gps.socket"));
    return daemon;
  }

  // Waits for a snapshot that satisfies `done`; returns its text.
  template <typename Done>
  std::string WaitForSnapshot(Done done, const std::string& what) const {
    const auto deadline = Clock::now() + std::chrono::milliseconds(kSnapshotMs);
    std::string json;
    while (Clock::now() < deadline) {
      json = sim_.ReadRouterFile("tmp/corvane/modemstatus.json");
      if (done(json)) return json;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ADD_FAILURE() << "no snapshot with " << what << "; last snapshot: " << json;
    return json;
  }
  std::string WaitForSnapshotValue(const std::string& name, const std::string& value) const {
    return WaitForSnapshot(
        [&](const std::string& json) { return FindEntry(json, name).value == value; },
        name + " = " + value);
  }

  SimRouter sim_;
  std::unique_ptr<GpsSender> sender_;
};

// The daemon runs nine hours east of UTC: the fix times must still be read as UTC. The second and
// third sentences lie just over 12 hours from now on the clock face, so whatever the time of day,
// one of them is moved across midnight to the nearest day.
TEST_F(LocationE2E, SentencesReachTheSnapshotWithUtcFixTimes) {
  auto daemon = StartDaemon({"TZ=XST-9"});
  const time_t now = time(nullptr);
  const time_t t1 = now - 30;
  const time_t t2 = now + 12 * 3600 + 600;  // stored as the day before: now - 11h50m
  const time_t t3 = now - 12 * 3600 - 600;  // stored as the day after: now + 11h50m

  // North and east, with a line end that is not stored.
  const std::string north_east = Gga(UtcClock(t1), "4807.038", "N", "01131.000", "E", "545.4");
  ASSERT_TRUE(sender_->Send(north_east + "\r\n"));
  std::string json = WaitForSnapshotValue("NMEA_s", north_east);
  EXPECT_EQ("48.117300", FindEntry(json, "Lat_f").value);
  EXPECT_EQ("11.516667", FindEntry(json, "Lon_f").value);
  EXPECT_EQ("545.400024", FindEntry(json, "Alt_f").value);
  EXPECT_EQ("u281wp6ptfc4", FindEntry(json, "GeoHash_s").value);
  for (const char* name : {"NMEA_s", "Lat_f", "Lon_f", "Alt_f"}) {
    EXPECT_EQ(t1, FindEntry(json, name).last_update) << name;
  }
  EXPECT_TRUE(sim_.WaitForCalls("i2cset -y 0 0x50 0x40 2", 1, 5000)) << daemon->Output();

  // South and west, no altitude: the altitude keeps its value and time.
  const std::string south_west = Gga(UtcClock(t2), "4807.038", "S", "01131.000", "W", "");
  ASSERT_TRUE(sender_->Send(south_west));
  json = WaitForSnapshotValue("NMEA_s", south_west);
  EXPECT_EQ("-48.117300", FindEntry(json, "Lat_f").value);
  EXPECT_EQ("-11.516667", FindEntry(json, "Lon_f").value);
  EXPECT_EQ("5xry3btb6jnv", FindEntry(json, "GeoHash_s").value);
  EXPECT_EQ(t2 - 86400, FindEntry(json, "Lat_f").last_update);
  EXPECT_EQ("545.400024", FindEntry(json, "Alt_f").value);
  EXPECT_EQ(t1, FindEntry(json, "Alt_f").last_update);

  // On the equator: the fix register is cleared.
  const std::string equator = Gga(UtcClock(t3), "0000.000", "N", "01131.000", "E", "12.0");
  ASSERT_TRUE(sender_->Send(equator));
  json = WaitForSnapshotValue("NMEA_s", equator);
  EXPECT_EQ("0.000000", FindEntry(json, "Lat_f").value);
  EXPECT_EQ(t3 + 86400, FindEntry(json, "Lat_f").last_update);
  EXPECT_EQ("12.000000", FindEntry(json, "Alt_f").value);
  EXPECT_TRUE(sim_.WaitForCalls("i2cset -y 0 0x50 0x40 0", 1, 5000));

  // No fix, then a four-field text: only the sentence changes, then nothing at all.
  const int commands = sim_.CountCalls("i2cset");
  const std::string no_fix = "$GPGGA,,,,,,0,00,99.99,,,,,,*48";
  ASSERT_TRUE(sender_->Send(no_fix));
  ASSERT_TRUE(sender_->Send("$GPGGA,1,2,3"));
  ASSERT_TRUE(daemon->WaitForOutput("Location Update from GPS daemon: \"$GPGGA,1,2,3\"", 5000));
  const long long after = static_cast<long long>(time(nullptr)) + 1;
  json = WaitForSnapshot([&](const std::string& j) { return SnapshotTime(j) >= after; },
                         "a later time");
  const SnapshotEntry sentence = FindEntry(json, "NMEA_s");
  EXPECT_EQ(no_fix, sentence.value);
  EXPECT_GE(sentence.last_update, now);
  EXPECT_LE(sentence.last_update, time(nullptr));
  EXPECT_EQ("0.000000", FindEntry(json, "Lat_f").value);
  EXPECT_EQ(t3 + 86400, FindEntry(json, "Lat_f").last_update);
  EXPECT_EQ(commands, sim_.CountCalls("i2cset"));

  EXPECT_EQ(0, daemon->Stop());
}

// The listener works through a flood of datagrams beside the main loop, which keeps its cadence
// (poll 2 seconds in the simulated router), and the daemon still stops at once.
TEST_F(LocationE2E, FloodWhileTheMainLoopPolls) {
  auto daemon = StartDaemon();
  ASSERT_TRUE(daemon->WaitForOutput("Calling sleep for ", kStartMs)) << daemon->Output();

  const int passes_before = daemon->CountOutput("LTE Connection Status is");
  std::atomic<int> sent{0};
  std::atomic<bool> send_failed{false};
  std::atomic<bool> flooding{true};
  std::thread flood([&] {
    char lat[16];
    while (flooding) {
      const int i = sent.load();
      snprintf(lat, sizeof lat, "48%02d.%03d", i % 60, i % 1000);
      // Every tenth has a fix (a command per update); the rest only store the sentence.
      const std::string text = i % 10 == 0
                                   ? Gga("123519", lat, "N", "01131.000", "E", "545.4")
                                   : "$GPGGA,,,,,,0,00,99.99,,,,,," + std::to_string(i);
      if (!sender_->Send(text)) send_failed = true;
      sent = i + 1;
    }
  });
  // Watch the passes begin while the flood runs: the longest gap between two is the cadence.
  const auto start = Clock::now();
  auto last_pass = start;
  Clock::duration longest_gap{};
  int passes = 0;
  while (Clock::now() - start < std::chrono::seconds(8)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const int now_passes = daemon->CountOutput("LTE Connection Status is") - passes_before;
    if (now_passes != passes) {
      const auto t = Clock::now();
      if (passes > 0 && t - last_pass > longest_gap) longest_gap = t - last_pass;
      last_pass = t;
      passes = now_passes;
    }
  }
  flooding = false;
  flood.join();
  EXPECT_FALSE(send_failed);
  EXPECT_GT(sent.load(), 500);
  // Eight seconds at a 2-second poll: about four passes, none held up by the flood.
  EXPECT_GE(passes, 3) << "sent " << sent.load();
  EXPECT_LT(longest_gap, std::chrono::milliseconds(3500)) << "sent " << sent.load();

  const std::string last = Gga("123519", "4807.038", "N", "01131.000", "E", "545.4");
  ASSERT_TRUE(sender_->Send(last));
  const std::string json = WaitForSnapshotValue("NMEA_s", last);
  EXPECT_EQ("48.117300", FindEntry(json, "Lat_f").value);

  const auto stop_start = Clock::now();
  EXPECT_EQ(0, daemon->Stop());
  EXPECT_LT(Clock::now() - stop_start, std::chrono::seconds(3));
  EXPECT_NE(std::string::npos, daemon->Output().find("Exit gpsSocketHandler"));
}

}  // namespace
