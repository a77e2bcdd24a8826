// The values the AT parsers return before anything is stored: one table of replies per report.
#include <gtest/gtest.h>

#include <string>

#include "modem/band_rssi.h"
#include "modem/data_counters.h"
#include "modem/group_ids.h"
#include "modem/sim_identity.h"
#include "modem/temperatures.h"
#include "tests/support/platform_samples.h"

namespace {

// A reply as the command channel hands it over, with two texts the report should yield.
struct Case {
  std::string answer;
  bool valid;
  const char* first;
  const char* second;
};

std::string Reply(const std::string& answer) {
  return AsModemReply("response: '" + answer + "'\n");
}

TEST(ReplyValuesTest, BandConfigHoldsTheFirstTwoMasks) {
  const Case cases[] = {
      {"+QCFG: \"band\",0x3,0x80,0x0", true, "0x3", "0x80"},
      {"+QCFG: \"band\",0x3", true, "0x3", ""},
      {"+QCFG: \"other\",1,2", false, "", ""},
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStdout();
    const BandConfig config = ParseBandConfig(Reply(c.answer).c_str());
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(c.valid, config.valid) << c.answer;
    EXPECT_STREQ(c.first, config.bands) << c.answer;
    EXPECT_STREQ(c.second, config.lteBands) << c.answer;
  }
}

TEST(ReplyValuesTest, RssiBerHoldsDbmOnlyForAKnownStrength) {
  struct RssiCase {
    const char* answer;
    bool hasDbm;
    long long dbm;
    const char* rxQual;
  };
  const RssiCase cases[] = {{"+CSQ: 31,7", true, -51, "7"},
                            {"+CSQ: 0,0", true, -113, "0"},
                            {"+CSQ: 99,99", false, 0, "99"}};
  for (const RssiCase& c : cases) {
    testing::internal::CaptureStdout();
    const RssiBer signal = ParseRssiBer(Reply(c.answer).c_str());
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(signal.valid) << c.answer;
    EXPECT_EQ(c.hasDbm, signal.hasDbm) << c.answer;
    EXPECT_EQ(c.dbm, signal.dbm) << c.answer;
    EXPECT_STREQ(c.rxQual, signal.rxQual) << c.answer;
  }
  EXPECT_FALSE(ParseRssiBer(Reply("+CME ERROR: 10").c_str()).valid);
}

TEST(ReplyValuesTest, CountersAndGroupIdsKeepLettersAndDigits) {
  const Case counters[] = {
      {"+QGDCNT: 12 34,5678\r\n\r\nOK", true, "1234", "5678"},
      {"+QGDCNT: 1234,5678\r\nERROR", false, "", ""},
      {"+QGDCNT 1,2", false, "", ""},
  };
  for (const Case& c : counters) {
    testing::internal::CaptureStdout();
    const DataCounters parsed = ParseDataCounters(Reply(c.answer).c_str());
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(c.valid, parsed.valid) << c.answer;
    EXPECT_STREQ(c.first, parsed.txBytes) << c.answer;
    EXPECT_STREQ(c.second, parsed.rxBytes) << c.answer;
  }
  const Case groups[] = {
      {"+QGID: \"ab\",\"cd\"", true, "ab", "\"cd\""},
      {"+QGID: A1", true, "A1", ""},
      {"+QGI: A1", false, "", ""},
  };
  for (const Case& c : groups) {
    testing::internal::CaptureStdout();
    const GroupIds ids = ParseGroupIds(Reply(c.answer).c_str());
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(c.valid, ids.valid) << c.answer;
    EXPECT_STREQ(c.first, ids.gid1) << c.answer;
    EXPECT_STREQ(c.second, ids.gid2) << c.answer;
  }
}

TEST(ReplyValuesTest, TemperaturesHoldTheOddRowsInOrder) {
  std::string lines;
  for (int n = 0; n < kTemperatureCount; ++n) {
    if (n > 0) lines += "\r\n\r\n";
    lines += "+QTEMP: \"sensor" + std::to_string(n) + "\",\"" + std::to_string(30 + n) + "\"";
  }
  const Temperatures parsed = ParseTemperatures(Reply(lines).c_str());
  ASSERT_TRUE(parsed.valid);
  for (int n = 0; n < kTemperatureCount; ++n) {
    EXPECT_EQ(std::to_string(30 + n), parsed.reading[n]) << n;
  }
  EXPECT_FALSE(ParseTemperatures(Reply("+QTEMP: \"xo\",\"33\"").c_str()).valid);
}

// An identity of 127 or more characters cleans to nothing: the ICCID is then refused, the
// firmware version stored empty.
TEST(ReplyValuesTest, IdentitiesCleanToNothingAt127Characters) {
  struct IdentityCase {
    std::string reply;
    IdentityText (*parse)(const char*);
    bool valid;
    std::string text;
  };
  const IdentityCase cases[] = {
      {"'+QCCID: " + std::string(126, '8'), ParseIccid, true, std::string(126, '8')},
      {"'+QCCID: " + std::string(127, '8'), ParseIccid, false, ""},
      {"'EM12" + std::string(122, 'G'), ParseSwVersion, true, "EM12" + std::string(122, 'G')},
      {"'EM12" + std::string(123, 'G'), ParseSwVersion, true, ""},
  };
  for (const IdentityCase& c : cases) {
    const IdentityText identity = c.parse(c.reply.c_str());
    EXPECT_EQ(c.valid, identity.valid) << c.reply;
    EXPECT_EQ(c.text, identity.text) << c.reply;
  }
}

}  // namespace
