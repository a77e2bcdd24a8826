// Test helper: a board that records what the daemon asks of it instead of starting the router's
// tools, with the router's interface names (a test may give others).
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/board.h"

class RecordingBoard : public Board {
 public:
  bool SetHpueLeds(bool high) override { return Note(high ? "leds high" : "leds low"); }
  bool SetFixRegister(bool fix) override { return Note(fix ? "fix on" : "fix off"); }
  const char* WwanInterface() const override { return wwan.c_str(); }
  const char* LanInterface() const override { return lan.c_str(); }

  // "leds high", "leds low", "fix on", "fix off", oldest first.
  std::vector<std::string> Calls() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return calls_;
  }
  void Clear() {
    std::lock_guard<std::mutex> hold(mutex_);
    calls_.clear();
  }

  std::string wwan = "wwan0";
  std::string lan = "lan1";

 private:
  bool Note(const char* call) {
    std::lock_guard<std::mutex> hold(mutex_);
    calls_.push_back(call);
    return true;
  }
  mutable std::mutex mutex_;  // the GPS listener's thread records too
  std::vector<std::string> calls_;
};
