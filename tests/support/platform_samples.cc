#include "tests/support/platform_samples.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <sstream>

std::string PlatformSample(const std::string& name) {
  const std::string path = std::string(PLATFORM_SAMPLE_DIR) + "/" + name;
  EXPECT_TRUE(FileExists(path)) << "missing sample " << name;
  return ReadFile(path);
}

std::string AsModemReply(const std::string& mmcliOutput) {
  std::string text = mmcliOutput;
  while (text.size() > 1 && (text.back() == '\r' || text.back() == '\n' || text.back() == '\t')) {
    text.pop_back();
  }
  if (!text.empty() && text.back() == '\'') text.pop_back();
  if (text.size() < 11) return std::string();
  return text.substr(text[10] == '\'' ? 11 : 10);
}

FakeGpio::FakeGpio() {
  const std::string script = dir_ / "gpio";
  WriteFile(script, "#!/bin/sh\necho \"$*\" >> \"" + (dir_ / "gpio.log") + "\"\n");
  chmod(script.c_str(), 0755);
  const char* path = getenv("PATH");
  old_path_ = path != nullptr ? path : "";
  setenv("PATH", (dir_.path() + ":" + old_path_).c_str(), 1);
}

FakeGpio::~FakeGpio() { setenv("PATH", old_path_.c_str(), 1); }

std::vector<std::string> FakeGpio::Calls() const {
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(dir_ / "gpio.log"));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

void FakeGpio::Clear() const { WriteFile(dir_ / "gpio.log", ""); }
