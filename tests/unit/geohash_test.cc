#include "location/geohash.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

namespace {

struct GeohashCase {
  double latitude;
  double longitude;
  int32_t length;
  int expected_result;
  const char* expected;  // nullptr: the buffer must stay untouched
};

class GeohashTest : public ::testing::TestWithParam<GeohashCase> {};

TEST_P(GeohashTest, Encodes) {
  const GeohashCase& c = GetParam();
  char buffer[20];
  memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(c.expected_result, geohash_encode(c.latitude, c.longitude, buffer, c.length));
  if (c.expected == nullptr) {
    for (char b : buffer) ASSERT_EQ('#', b) << "buffer written";
    return;
  }
  const size_t n = strlen(c.expected);
  EXPECT_EQ(std::string(c.expected), std::string(buffer, n));
  // Exactly `length` characters and no terminator.
  EXPECT_EQ('#', buffer[n]);
}

const double kNaN = std::nan("");

INSTANTIATE_TEST_SUITE_P(
    Cases, GeohashTest,
    ::testing::Values(
        GeohashCase{48.1173, 11.516667, 12, 1, "u281wp6ptfc6"},
        GeohashCase{-48.1173, -11.516667, 12, 1, "5xry3btb6jnt"},
        GeohashCase{57.64911, 10.40744, 11, 1, "u4pruydqqvj"},
        // A point on a bisection line goes to the lower half.
        GeohashCase{0.0, 0.0, 12, 1, "7zzzzzzzzzzz"},
        GeohashCase{0.0, 90.0, 4, 1, "mzzz"},
        // The bounds are inclusive.
        GeohashCase{90.0, 180.0, 12, 1, "zzzzzzzzzzzz"},
        GeohashCase{-90.0, -180.0, 12, 1, "000000000000"},
        GeohashCase{48.1173, 11.516667, 2, 1, "u2"},
        // Too short: refused with 0.
        GeohashCase{48.1173, 11.516667, 1, 0, nullptr},
        GeohashCase{48.1173, 11.516667, 0, 0, nullptr},
        GeohashCase{48.1173, 11.516667, -12, 0, nullptr},
        // Out of range or not a number: 1, nothing written.
        GeohashCase{90.000001, 0.0, 12, 1, nullptr},
        GeohashCase{-90.000001, 0.0, 12, 1, nullptr},
        GeohashCase{0.0, 180.000001, 12, 1, nullptr},
        GeohashCase{0.0, -180.000001, 12, 1, nullptr},
        GeohashCase{kNaN, 0.0, 12, 1, nullptr},
        GeohashCase{0.0, kNaN, 12, 1, nullptr}));

}  // namespace
