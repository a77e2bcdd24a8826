// Test helper: a fake i2cset first on PATH that records each call's arguments in a log file.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/test_files.h"

class FakeI2cset {
 public:
  FakeI2cset() {
    const char* path = getenv("PATH");
    saved_path_ = path != nullptr ? path : "";
    WriteFile(dir_ / "i2cset", "#!/bin/sh\necho \"i2cset $*\" >> \"$(dirname \"$0\")/calls.log\"\n");
    chmod_ok_ = system(("chmod +x '" + (dir_ / "i2cset") + "'").c_str()) == 0;
    setenv("PATH", (dir_.path() + ":" + saved_path_).c_str(), 1);
  }
  ~FakeI2cset() { setenv("PATH", saved_path_.c_str(), 1); }
  FakeI2cset(const FakeI2cset&) = delete;
  FakeI2cset& operator=(const FakeI2cset&) = delete;

  bool ready() const { return chmod_ok_; }

  // The recorded command lines, oldest first.
  std::vector<std::string> Calls() const {
    std::vector<std::string> lines;
    std::string all = ReadFile(dir_ / "calls.log");
    size_t start = 0;
    for (size_t nl; (nl = all.find('\n', start)) != std::string::npos; start = nl + 1) {
      lines.push_back(all.substr(start, nl - start));
    }
    return lines;
  }

 private:
  TempDir dir_;
  std::string saved_path_;
  bool chmod_ok_ = false;
};
