// The router's board: the LED and I2C tools run directly with their arguments, found on PATH.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/board.h"

class StopEvent;

class RouterBoard : public Board {
 public:
  // `stop` ends a tool run at once (nullptr: never). The tools are looked up on PATH here and
  // again on a later call while one is missing.
  explicit RouterBoard(const StopEvent* stop);
  RouterBoard(const RouterBoard&) = delete;
  RouterBoard& operator=(const RouterBoard&) = delete;

  bool SetHpueLeds(bool high) override;
  bool SetFixRegister(bool fix) override;
  const char* WwanInterface() const override { return "wwan0"; }
  const char* LanInterface() const override { return "lan1"; }

  // The longest tool path kept; a longer PATH entry is skipped.
  static constexpr size_t kToolPathSize = 256;
  // How long one tool run may take.
  static constexpr int32_t kToolLimitMs = 2000;

 private:
  enum Tool { kGpio, kI2cset, kToolCount };
  // Runs the tool with `args` (after its name, ending with nullptr); true when it exited with 0.
  bool Run(Tool tool, const char* const* args);
  const char* ToolPath(Tool tool);

  const StopEvent* stop_;
  char toolPath_[kToolCount][kToolPathSize] = {};
};

// Looks `name` up in the directories of `pathList` (a PATH value) and stores the first executable
// regular file found, directory and name, in `found`. False when there is none.
bool FindOnPath(const char* pathList, const char* name, char* found, size_t size);
