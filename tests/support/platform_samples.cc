#include "tests/support/platform_samples.h"

#include <gtest/gtest.h>


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
