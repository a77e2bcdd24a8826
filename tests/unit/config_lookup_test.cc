// LookupValue: size rules, the cloud host rule, extended section references, failures that leave
// the buffer alone, and masked secrets.
#include "config/config_lookup.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "config/uci_source.h"
#include "tests/support/test_files.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

class LookupValueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(dir_ / "zel",
              "config status_gather 'status_gather'\n"
              "\toption nine '123456789'\n"
              "\toption ten '1234567890'\n"
              "\toption long127 '" + std::string(127, 'a') + "'\n"
              "\toption long128 '" + std::string(128, 'b') + "'\n"
              "\toption password 'hunter2'\n"
              "\toption influx_token 'tok-secret'\n"
              "\tlist servers 'a'\n"
              "config api 'api'\n"
              "\toption status '1'\n");
    WriteFile(dir_ / "zel_gpsd", "config gpsd\n\toption tid 'gps-tid'\nconfig gpsd\n\toption tid 'second'\n");
    WriteFile(dir_ / "broken", "config x\n\toption 'unterminated\n");
    Reload();
    ASSERT_TRUE(uci_->Ready());
  }

  // Runs one lookup into buffer_ and keeps what it printed.
  int Lookup(const char* key, int32_t size) {
    CaptureStdout();
    int rc = LookupValue(*uci_, key, buffer_, size);
    printed_ = GetCapturedStdout();
    return rc;
  }

  // A fresh context: packages are read once per context.
  void Reload() { uci_ = std::make_unique<UciSource>(dir_.path().c_str()); }

  TempDir dir_;
  std::unique_ptr<UciSource> uci_;
  char buffer_[256] = {};
  std::string printed_;
};

TEST_F(LookupValueTest, CopiesAtMostSizeMinusOneCharacters) {
  struct Case {
    const char* key;
    int32_t size;
    std::string expected;
  };
  const Case cases[] = {
      {"zel.status_gather.nine", 10, "123456789"}, {"zel.status_gather.ten", 10, "123456789"},
      {"zel.status_gather.ten", 11, "1234567890"}, {"zel.status_gather.nine", 1, ""},
      {"zel.status_gather.long127", 0, std::string(127, 'a')},  // 0 means 128
      {"zel.status_gather.long128", 0, std::string(127, 'b')},
      {"zel.status_gather.long128", 129, std::string(128, 'b')},
      {"zel.api.status", 2, "1"}, {"zel_gpsd.@gpsd[0].tid", 16, "gps-tid"},
      {"zel_gpsd.@gpsd[-1].tid", 16, "second"},
  };
  for (const Case& c : cases) {
    memset(buffer_, 'Z', sizeof buffer_);
    EXPECT_EQ(Lookup(c.key, c.size), 1) << c.key;
    EXPECT_EQ(std::string(buffer_), c.expected) << c.key << " size " << c.size;
  }
  EXPECT_EQ(printed_, "Lookup for name: 'zel_gpsd.@gpsd[-1].tid' = 'second'\n");
}

TEST_F(LookupValueTest, FailedLookupsLeaveTheBufferAsItWas) {
  const std::string keys[] = {
      "zel.status_gather." + std::string(300, 'k'),  // longer than any option path
      "zel.status_gather.missing",  // no such option
      "zel.nosection.nine",         // no such section
      "nopackage.a.b",              // no such package file
      "zel.status_gather",          // a section, not an option
      "zel",                        // a package
      "zel.status_gather.servers",  // a list, not a single value
      "zel_gpsd.@gpsd[5].tid",      // no such position
      "zel.status_gather.nine.x",   // malformed path
      "zel_gpsd.gpsd.tid",          // the sections are anonymous
      "broken.x.a",                 // malformed file
  };
  for (const std::string& key : keys) {
    strcpy(buffer_, "previous");
    EXPECT_EQ(Lookup(key.c_str(), 0), 0) << key;
    EXPECT_STREQ(buffer_, "previous") << key;
    EXPECT_EQ(printed_, "Lookup for name: '" + key + "' failed\n");
  }
}

TEST_F(LookupValueTest, CloudHostGetsHttpsUnlessItHasAScheme) {
  struct Case {
    std::string value;
    int32_t size;
    std::string expected;
  };
  const Case cases[] = {
      {"cloud.example.com", 0, "https://cloud.example.com"},
      {"http://cloud.example.com", 0, "http://cloud.example.com"},
      {"mqtts://broker:8883", 0, "mqtts://broker:8883"},
      {"abcdefghijklmnop", 16, "https://abcdefg"},
  };
  for (const Case& c : cases) {
    WriteFile(dir_ / "zel_cloud", "config cloud 'cloud'\n\toption host '" + c.value + "'\n");
    Reload();
    EXPECT_EQ(Lookup("zel_cloud.cloud.host", c.size), 1);
    EXPECT_EQ(std::string(buffer_), c.expected);
    EXPECT_NE(printed_.find("= '" + c.value + "'"), std::string::npos) << printed_;
  }
  // The rule belongs to that key only.
  WriteFile(dir_ / "other", "config cloud 'cloud'\n\toption host 'bare.example'\n");
  EXPECT_EQ(Lookup("other.cloud.host", 0), 1);
  EXPECT_STREQ(buffer_, "bare.example");
}

TEST_F(LookupValueTest, SecretsAreMaskedOnTheConsoleOnly) {
  for (auto [key, value] : {std::pair{"password", "hunter2"}, {"influx_token", "tok-secret"}}) {
    const std::string name = std::string("zel.status_gather.") + key;
    EXPECT_EQ(Lookup(name.c_str(), 0), 1);
    EXPECT_STREQ(buffer_, value);
    EXPECT_EQ(printed_, "Lookup for name: '" + name + "' = '********'\n");
  }
  // An empty secret stays visibly empty.
  WriteFile(dir_ / "zel", "config status_gather 'status_gather'\n\toption password ''\n");
  Reload();
  strcpy(buffer_, "previous");
  EXPECT_EQ(Lookup("zel.status_gather.password", 0), 1);
  EXPECT_STREQ(buffer_, "");
  EXPECT_EQ(printed_, "Lookup for name: 'zel.status_gather.password' = ''\n");
}

}  // namespace
