#include "exec/router_board.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "exec/program_run.h"

extern char** environ;

namespace {

constexpr const char* kToolNames[] = {"gpio", "i2cset"};
// Where a shell looks when PATH is not set.
constexpr char kDefaultPath[] = "/usr/sbin:/usr/bin:/sbin:/bin";
// A tool's arguments after its name, at most.
constexpr int kMaxArgs = 6;

bool IsExecutableFile(const char* path) {
  struct stat info {};
  return stat(path, &info) == 0 && S_ISREG(info.st_mode) && access(path, X_OK) == 0;
}

}  // namespace

bool FindOnPath(const char* pathList, const char* name, char* found, size_t size) {
  if (pathList == nullptr) pathList = kDefaultPath;
  const size_t name_len = strlen(name);
  for (const char* dir = pathList;; ) {
    const char* end = strchr(dir, ':');
    const size_t dir_len = end != nullptr ? static_cast<size_t>(end - dir) : strlen(dir);
    // An empty entry is the current directory, as for the shell.
    const char* prefix = dir_len > 0 ? dir : ".";
    const size_t prefix_len = dir_len > 0 ? dir_len : 1;
    if (prefix_len + 1 + name_len < size) {
      memcpy(found, prefix, prefix_len);
      found[prefix_len] = '/';
      memcpy(found + prefix_len + 1, name, name_len + 1);
      if (IsExecutableFile(found)) return true;
    }
    if (end == nullptr) break;
    dir = end + 1;
  }
  if (size > 0) found[0] = '\0';
  return false;
}

RouterBoard::RouterBoard(const StopEvent* stop) : stop_(stop) {
  for (int tool = 0; tool < kToolCount; ++tool) ToolPath(static_cast<Tool>(tool));
}

const char* RouterBoard::ToolPath(Tool tool) {
  char* path = toolPath_[tool];
  if (path[0] == '\0') FindOnPath(getenv("PATH"), kToolNames[tool], path, kToolPathSize);
  return path;
}

bool RouterBoard::Run(Tool tool, const char* const* args) {
  const char* path = ToolPath(tool);
  if (path[0] == '\0') {
    fprintf(stderr, "%s not found on PATH\n", kToolNames[tool]);
    return false;
  }
  char* argv[kMaxArgs + 2] = {const_cast<char*>(kToolNames[tool])};
  for (int i = 0; i < kMaxArgs && args[i] != nullptr; ++i) argv[i + 1] = const_cast<char*>(args[i]);
  // The tools get the daemon's environment, as they did when a shell started them.
  char output[256];
  ProgramOutcome outcome =
      RunProgram({path, argv, kToolLimitMs, stop_, environ}, output, sizeof output);
  // What a tool prints (a complaint, normally nothing) stays visible on the console.
  if (outcome.length > 0) fwrite(output, 1, static_cast<size_t>(outcome.length), stderr);
  if (outcome.end == RunEnd::kTimedOut) {
    fprintf(stderr, "%s did not end within %d ms\n", kToolNames[tool], kToolLimitMs);
  }
  return outcome.end == RunEnd::kExited && outcome.status == 0;
}

bool RouterBoard::SetHpueLeds(bool high) {
  static const char* const kBlueOff[] = {"led", "hpue_blue", "off", nullptr};
  static const char* const kBlueOn[] = {"led", "hpue_blue", "on", nullptr};
  static const char* const kGreenOff[] = {"led", "hpue_green", "off", nullptr};
  static const char* const kGreenOn[] = {"led", "hpue_green", "on", nullptr};
  // The LED that goes dark first, so the two are never lit together.
  bool dark = Run(kGpio, high ? kGreenOff : kBlueOff);
  bool lit = Run(kGpio, high ? kBlueOn : kGreenOn);
  return dark && lit;
}

bool RouterBoard::SetFixRegister(bool fix) {
  static const char* const kFix[] = {"-y", "0", "0x50", "0x40", "2", nullptr};
  static const char* const kNoFix[] = {"-y", "0", "0x50", "0x40", "0", nullptr};
  return Run(kI2cset, fix ? kFix : kNoFix);
}
