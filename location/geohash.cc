#include "location/geohash.h"

namespace {

constexpr char kAlphabet[] = "0123456789bcdefghjkmnpqrstuvwxyz";

struct Interval {
  double upper;
  double lower;
};

}  // namespace

int EncodeGeohash(double latitude, double longitude, char* output, int32_t length) {
  if (length < 2) return 0;
  // The negated comparisons also refuse NaN.
  if (!(latitude <= 90.0 && latitude >= -90.0) || !(longitude <= 180.0 && longitude >= -180.0)) {
    return 1;
  }
  Interval lat{90.0, -90.0};
  Interval lon{180.0, -180.0};
  const int32_t bits = static_cast<int32_t>(length * 5.0);
  unsigned value = 0;
  for (int32_t i = 1; i <= bits; ++i) {
    // Odd bits bisect the longitude, even bits the latitude. A coordinate on a bisection point
    // goes to the lower half.
    Interval& range = (i % 2 != 0) ? lon : lat;
    const double coordinate = (i % 2 != 0) ? longitude : latitude;
    const double mid = (range.lower + range.upper) * 0.5;
    value <<= 1;
    if (coordinate > mid) {
      value |= 1;
      range.lower = mid;
    } else {
      range.upper = mid;
    }
    if (i % 5 == 0) {
      output[(i - 1) / 5] = kAlphabet[value];
      value = 0;
    }
  }
  return 1;
}
