// The daemon's command-line options.
#pragma once

#include <cstddef>

// Size of the -f and -j path fields; the argument may have at most kPathArgSize - 2 characters.
constexpr size_t kPathArgSize = 128;

struct DaemonOptions {
  bool csv = false;          // -f: the CSV record is written to csvPath
  bool json = false;         // -j: the snapshot is written to jsonPath
  bool printValues = false;  // -c: every status write is echoed
  bool influx = false;       // -i, or an Influx URL configured: records are built and posted
  bool debug = false;        // -d
  char csvPath[kPathArgSize] = {};
  char jsonPath[kPathArgSize] = {};
};
