// Start-up pieces in-process: option parsing and the identity values.
#include "daemon/startup.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/log.h"
#include "config/daemon_config.h"
#include "daemon/daemon_options.h"
#include "status/status_table.h"
#include "tests/support/table_access.h"
#include "tests/support/test_files.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

class StartupPiecesTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetLogRepeat(); }

  OptionsResult Parse(std::vector<std::string> args) {
    args.insert(args.begin(), "modem-statusd");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    optind = 0;  // getopt starts over
    opterr = 0;
    CaptureStdout();
    OptionsResult result =
        ParseOptions(static_cast<int>(args.size()), argv.data(), &options_, &config_);
    printed_ = GetCapturedStdout();
    return result;
  }

  DaemonOptions options_;
  char systemName_[kSystemNameSize] = {};
  DaemonConfig config_{};
  std::string printed_;
  TempDir dir_;
};

TEST_F(StartupPiecesTest, OptionsSetTheirFlags) {
  config_.period = 60;
  ASSERT_EQ(Parse({"-c", "-i", "-d", "-s", "-r", "-l", "-f", "/tmp/a.csv", "-j", "/tmp/s.json"}),
            OptionsResult::kRun);
  EXPECT_EQ(options_.printValues, 1);
  EXPECT_EQ(options_.influx, 1);
  EXPECT_EQ(options_.debug, 1);
  EXPECT_EQ(options_.csv, 1);
  EXPECT_EQ(options_.json, 1);
  EXPECT_STREQ(options_.csvPath, "/tmp/a.csv");
  EXPECT_STREQ(options_.jsonPath, "/tmp/s.json");
  EXPECT_EQ(config_.period, 60);
  EXPECT_EQ(printed_, "CSV Filename is: /tmp/a.csv\nJSON filename is: /tmp/s.json\n");
}

TEST_F(StartupPiecesTest, PeriodOptionTakesAtoiValueAndLastWins) {
  struct Case {
    std::vector<std::string> args;
    int64_t period;
    const char* printed;
  };
  const Case cases[] = {
      {{"-p", "0"}, 0, "Influx Period is: 0 seconds\n"},
      {{"-p", "-5"}, -5, "Influx Period is: -5 seconds\n"},
      {{"-p", "abc"}, 0, "Influx Period is: 0 seconds\n"},
      {{"-p", "30", "-p", "90s"}, 90,
       "Influx Period is: 30 seconds\nInflux Period is: 90 seconds\n"},
  };
  for (const Case& c : cases) {
    config_.period = 60;
    ASSERT_EQ(Parse(c.args), OptionsResult::kRun);
    EXPECT_EQ(config_.period, c.period);
    EXPECT_EQ(printed_, c.printed);
  }
}

TEST_F(StartupPiecesTest, HelpUnknownAndMissingArgumentGiveUsage) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"-h"}, {"-?"}, {"-c", "-z"}, {"-j"}, {"-d", "-f"}}) {
    EXPECT_EQ(Parse(args), OptionsResult::kUsage) << args.back();
  }
}

TEST_F(StartupPiecesTest, PathArgumentsAreLimitedTo126Characters) {
  const std::string fits(126, 'p');
  ASSERT_EQ(Parse({"-f", fits, "-j", fits}), OptionsResult::kRun);
  EXPECT_EQ(std::string(options_.csvPath), fits);
  EXPECT_EQ(std::string(options_.jsonPath), fits);
  for (const char* option : {"-f", "-j"}) {
    options_ = DaemonOptions{};
    CaptureStderr();
    EXPECT_EQ(Parse({option, fits + "q"}), OptionsResult::kRefused);
    EXPECT_EQ(GetCapturedStderr(), std::string("Path of ") + option +
                                       " is longer than 126 characters: " + fits + "q\n");
    EXPECT_EQ(options_.csvPath[0], '\0');
    EXPECT_EQ(options_.jsonPath[0], '\0');
    EXPECT_EQ(options_.csv + options_.json, 0);
  }
}

TEST_F(StartupPiecesTest, SerialNumberFile) {
  const std::string long_serial(200, '7');
  const struct {
    const char* content;  // nullptr: no file
    std::string stored;   // "": Sn_s not set, with the failure line
  } cases[] = {
      {"ZR47-0001\n", "ZR47-0001"}, {"ZR47-0002", "ZR47-0002"},
      {"ZR47-0003\nsecond line\n", "ZR47-0003\nsecond line"},
      {long_serial.c_str(), long_serial.substr(0, 127)},
      {"\n", ""}, {"", ""}, {nullptr, ""},
  };
  const std::string path = dir_ / "serialNumber";
  for (const auto& c : cases) {
    ResetLogRepeat();
    StatusTable table;
    unlink(path.c_str());
    if (c.content != nullptr) WriteFile(path, c.content);
    CaptureStderr();
    ReadSerialNumber(table, &config_, path.c_str(), options_.debug);
    EXPECT_EQ(EntryOf(table, kSn_s).value, c.stored);
    EXPECT_EQ(GetCapturedStderr(), c.stored.empty() ? "Failed to locate system serial number\n" : "");
    EXPECT_EQ(EntryOf(table, kSn_s).fixed, c.stored.empty() ? 0 : 1);
  }
}

TEST_F(StartupPiecesTest, BuildInformationFile) {
  struct Case {
    const char* content;  // nullptr: no file
    const char* version;  // SwVersion_s
    const char* system;   // SystemName_s
  };
  const Case cases[] = {
      {"Target board: kx\nVersion: 2.1.0\n", "2.1.0", "KX-ZR47"},
      {"Version: 2.1.0\nTarget board: lumora\n", "2.1.0", "Lumora-ZR47"},
      {"Target board: lu\n", "", "Lumora-ZR47"},
      {"Target board: KX\nVersion: 1\n", "1", "Unknown-ZR47"},
      {"Target board: kx", "", "Unknown-ZR47"},  // no newline after the board
      {"Version: 3.0", "", "Unknown-ZR47"},
      {"", "", "Unknown-ZR47"},
      {"Build: 5\nTarget board: lumora-x\n", "", "Unknown-ZR47"},
      {nullptr, "", ""},
  };
  for (const Case& c : cases) {
    ResetLogRepeat();
    StatusTable table;
    const std::string path = dir_ / "corvane_build_info";
    unlink(path.c_str());
    if (c.content != nullptr) WriteFile(path, c.content);
    CaptureStdout();
    CaptureStderr();
    ReadBuildInfo(table, path.c_str(), systemName_);
    const std::string err = GetCapturedStderr();
    const std::string out = GetCapturedStdout();
    const std::string label = c.content != nullptr ? c.content : "(no file)";
    EXPECT_STREQ(EntryOf(table, kSwVersion_s).value, c.version) << label;
    EXPECT_STREQ(EntryOf(table, kSystemName_s).value, c.system) << label;
    if (c.content == nullptr) {
      EXPECT_EQ(err, "Failed to open KX build info file\n");
      EXPECT_STREQ(systemName_, "Unknown");
      EXPECT_EQ(out, "");
    } else {
      EXPECT_NE(out.find(std::string("System Name: '") + c.system + "'\n"), std::string::npos)
          << out;
      EXPECT_STREQ(systemName_, c.system);
    }
  }
}

}  // namespace
