#include "location/geohash.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

namespace {

TEST(GeohashTest, Encodes) {
  const double nan = std::nan("");
  struct Case {
    double latitude;
    double longitude;
    int32_t length;
    int result;
    const char* expected;  // nullptr: the buffer must stay untouched
  } cases[] = {
      {48.1173, 11.516667, 12, 1, "u281wp6ptfc6"},
      {-48.1173, -11.516667, 12, 1, "5xry3btb6jnt"},
      {57.64911, 10.40744, 11, 1, "u4pruydqqvj"},
      // A point on a bisection line goes to the lower half.
      {0.0, 0.0, 12, 1, "7zzzzzzzzzzz"},
      {0.0, 90.0, 4, 1, "mzzz"},
      // The bounds are inclusive.
      {90.0, 180.0, 12, 1, "zzzzzzzzzzzz"},
      {-90.0, -180.0, 12, 1, "000000000000"},
      {48.1173, 11.516667, 2, 1, "u2"},
      // Too short: refused with 0.
      {48.1173, 11.516667, 1, 0, nullptr},
      {48.1173, 11.516667, 0, 0, nullptr},
      {48.1173, 11.516667, -12, 0, nullptr},
      // Out of range or not a number: 1, nothing written.
      {90.000001, 0.0, 12, 1, nullptr},
      {-90.000001, 0.0, 12, 1, nullptr},
      {0.0, 180.000001, 12, 1, nullptr},
      {0.0, -180.000001, 12, 1, nullptr},
      {nan, 0.0, 12, 1, nullptr},
      {0.0, nan, 12, 1, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.latitude << " " << c.longitude << " " << c.length);
    char buffer[20];
    memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(c.result, EncodeGeohash(c.latitude, c.longitude, buffer, c.length));
    // Exactly `length` characters and no terminator; nothing at all when refused.
    const std::string written = c.expected == nullptr ? "" : c.expected;
    EXPECT_EQ(written + std::string(sizeof buffer - written.size(), '#'),
              std::string(buffer, sizeof buffer));
  }
}

}  // namespace
