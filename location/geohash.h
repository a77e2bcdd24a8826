// The geohash of a position.
#pragma once

#include <cstdint>

// Writes exactly `length` characters (no terminator); 0 when length < 2, else 1.
int EncodeGeohash(double latitude, double longitude, char* output, int32_t length);
