// The AT parsers of band, signal quality, data counters, group identifiers and temperatures, fed
// the replies as the command channel hands them over.
#include <gtest/gtest.h>

#include "modem/band_rssi.h"
#include "modem/collector.h"
#include "modem/collectors.h"
#include "modem/data_counters.h"
#include "modem/group_ids.h"
#include "modem/temperatures.h"
#include "tests/unit/radio_fixture.h"

namespace {

using BandConfigTest = RadioTest;

TEST_F(BandConfigTest, StoresTheFirstTwoMasksAsFixedValues) {
  testing::internal::CaptureStdout();
  TakeBandConfig(ctx_, Reply("AT-QCFG-band.mmcli.stdout").c_str());
  EXPECT_EQ("Row: 0, 0x5af0\nRow: 1, 0x2000001e0bb1f39df\nRow: 2, 0x0\n",
            testing::internal::GetCapturedStdout());
  EXPECT_EQ("0x5af0", Value(kMCBV_s));
  EXPECT_EQ("0x2000001e0bb1f39df", Value(kMCLBV_s));
  EXPECT_TRUE(Fixed(kMCBV_s));
  EXPECT_TRUE(Fixed(kMCLBV_s));
}

TEST_F(BandConfigTest, EchoesEightRowsOfALongReplyAndToleratesAShortOne) {
  testing::internal::CaptureStdout();
  TakeBandConfig(ctx_, Answer("+QCFG: \"band\",1,2,3,4,5,6,7,8,9,10").c_str());
  const std::string echo = testing::internal::GetCapturedStdout();
  EXPECT_NE(std::string::npos, echo.find("Row: 7, 8\n"));
  EXPECT_EQ(std::string::npos, echo.find("Row: 8"));
  EXPECT_EQ("1", Value(kMCBV_s));
  EXPECT_EQ("2", Value(kMCLBV_s));

  testing::internal::CaptureStdout();
  TakeBandConfig(ctx_, Answer("+QCFG: \"band\",0x3").c_str());
  testing::internal::GetCapturedStdout();
  EXPECT_EQ("0x3", Value(kMCBV_s));
  EXPECT_EQ("", Value(kMCLBV_s));
}

TEST_F(BandConfigTest, RepliesWithoutTheBandPrefixStoreNothing) {
  for (const char* answer : {"", "+QCFG: \"band\",", "+QCFG: \"nwscanmode\",0",
                             "GDBus.Error:org.freedesktop.ModemManager1.Error.MobileEquipment"}) {
    testing::internal::CaptureStdout();
    TakeBandConfig(ctx_, Answer(answer).c_str());
    EXPECT_EQ("", testing::internal::GetCapturedStdout()) << answer;
    EXPECT_FALSE(Written(kMCBV_s)) << answer;
  }
}

using RssiBerTest = RadioTest;

TEST_F(RssiBerTest, ConvertsStrengthToDbm) {
  struct Case {
    std::string reply;
    const char* rssi;
    const char* qual;
  };
  const Case cases[] = {
      {Reply("AT-CSQ.mmcli.stdout"), "-67", "99"},
      // Temperature lines left over from AT+QTEMP before the answer.
      {Reply("AT-QTEMP_leftover-prepended-to-next-AT-CSQ.mmcli.stdout"), "-67", "99"},
      {Answer("+CSQ: 0,0"), "-113", "0"},
      {Answer("+CSQ: 31,7"), "-51", "7"},
      {Answer("+CSQ: x,5"), "-113", "5"},   // no digits: converted as 0
      {Answer("+CSQ: -3,0"), "-119", "0"},  // negative reports pass
      {Answer("+CSQ: -9999999999,0"), "-4294967409", "0"},
  };
  for (const Case& c : cases) {
    TakeRssiBer(ctx_, c.reply.c_str());
    EXPECT_EQ(c.rssi, Value(kUeRssi_i)) << c.reply;
    EXPECT_EQ(c.qual, Value(kUeRxQual_i)) << c.reply;
  }
}

TEST_F(RssiBerTest, UnknownStrengthKeepsTheOldValueButStoresTheErrorRate) {
  for (const char* answer : {"+CSQ: 99,99", "+CSQ: 32,0"}) {
    Preset(kUeRssi_i, "-70");
    testing::internal::CaptureStdout();
    TakeRssiBer(ctx_, Answer(answer).c_str());
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ("-70", Value(kUeRssi_i)) << answer;
    EXPECT_FALSE(Written(kUeRssi_i)) << answer;
    EXPECT_EQ(answer[6] == '9' ? "GetRssiBer Error: RSSI value of 99\n"
                               : "GetRssiBer Error: RSSI value of 32\n",
              out);
  }
  EXPECT_EQ("0", Value(kUeRxQual_i));
}

using RxTxBytesTest = RadioTest;

TEST_F(RxTxBytesTest, StoresTheCountersLettersAndDigits) {
  struct Case {
    const char* answer;
    const char* tx;
    const char* rx;
  };
  const Case cases[] = {
      {"+QGDCNT: 1234,5678\r\n\r\nOK", "1234", "5678"},
      {"+QGDCNT: 1234,5678", "1234", "5678"},
      {"+QGDCNT: 12 34,5678", "1234", "5678"},
      {"+QGDCNT: 1,2,3,4", "1", "2"},       // four rows: no OK check
      {"+QGDCNT: 1,2,3,4,5,6", "1", "2"},   // full table: no OK check
      {"+QGDCNT: 77", "77", ""},
      {"+QGDCNT: -1.5,\"9\"", "15", "9"},
  };
  for (const Case& c : cases) {
    TakeRxTxBytes(ctx_, Answer(c.answer).c_str());
    EXPECT_EQ(c.tx, Value(kAtTxBytes_i)) << c.answer;
    EXPECT_EQ(c.rx, Value(kAtRxBytes_i)) << c.answer;
  }
  TakeRxTxBytes(ctx_, Reply("AT-QGDCNT-query.mmcli.stdout").c_str());
  EXPECT_EQ("237505722", Value(kAtTxBytes_i));
  EXPECT_EQ("614994307", Value(kAtRxBytes_i));
  EXPECT_FALSE(Written(kAtRxPkts_i));
  EXPECT_FALSE(Written(kAtTxPkts_i));
}

TEST_F(RxTxBytesTest, ThreeRowsMustEndInOk) {
  Preset(kAtTxBytes_i, "1");
  testing::internal::CaptureStdout();
  TakeRxTxBytes(ctx_, Answer("+QGDCNT: 1234,5678\r\nERROR").c_str());
  EXPECT_EQ("GetRxTxBytes failed: expected OK row 2 got: ERROR\n",
            testing::internal::GetCapturedStdout());
  EXPECT_EQ("1", Value(kAtTxBytes_i));
  EXPECT_FALSE(Written(kAtRxBytes_i));
}

class GroupIdsTest : public RadioTest {
 protected:
  void SetUp() override {
    RadioTest::SetUp();
    modem_.gidQueried = 0;
  }
};

TEST_F(GroupIdsTest, StoresBothIdentifiersAsFixedValues) {
  struct Case {
    std::string reply;
    const char* echo;
    const char* gid1;
    const char* gid2;
  };
  const Case cases[] = {
      {Answer("+QGID: FF,01"), "Row: 0,  FF\nRow: 1, 01\n", "FF", "01"},
      {Answer("+QGID: \"ab\",\"cd\""), "Row: 0,  \"ab\"\nRow: 1, \"cd\"\n", "ab", "\"cd\""},
      {Answer("+QGID: 1,2,3,4,5"), "Row: 0,  1\nRow: 1, 2\nRow: 2, 3\nRow: 3, 4\n", "1", "2"},
      {Answer("+QGID: A1"), "Row: 0,  A1\n", "A1", ""},
      // The shape Quectel firmware prints: the blank after the comma stays in GID2.
      {Reply("AT-QGID_success-shape.mmcli.stdout"), "Row: 0,  FF\nRow: 1,  FF\n",
       "FF", " FF"},
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStdout();
    TakeGroupIds(ctx_, c.reply.c_str());
    EXPECT_EQ(c.echo, testing::internal::GetCapturedStdout()) << c.reply;
    EXPECT_EQ(c.gid1, Value(kGID1_i)) << c.reply;
    EXPECT_EQ(c.gid2, Value(kGID2_i)) << c.reply;
    EXPECT_TRUE(Fixed(kGID1_i) && Fixed(kGID2_i)) << c.reply;
  }
}

TEST_F(GroupIdsTest, AskedOnceWhateverTheOutcome) {
  // An index the channel refuses: the first call gets no reply, stores nothing and still counts
  // as the one query; the second does not reach the channel at all.
  const Collector row =
      AtRow("AT+QGID", TakeGroupIds).Once(&ModemSession::gidQueried, OnceMark::kWhenAsked);
  modem_.modemIndex = 1000;
  testing::internal::CaptureStderr();
  RunCollector(ctx_, row);
  EXPECT_EQ("modem_Send error: Modem index too large! - 1000\n",
            testing::internal::GetCapturedStderr());
  EXPECT_EQ(1, modem_.gidQueried);
  EXPECT_FALSE(Written(kGID1_i));
  testing::internal::CaptureStderr();
  RunCollector(ctx_, row);
  EXPECT_EQ("", testing::internal::GetCapturedStderr());
}

using TemperaturesTest = RadioTest;

// The eight readings as they arrive after AT+QTEMP, one line per sensor, values quoted.
std::string QtempLines(const std::vector<std::string>& values) {
  const char* names[] = {"xo_therm_buf",     "mdm_case_therm",   "pa_therm1",
                         "tsens_tz_sensor0", "tsens_tz_sensor1", "tsens_tz_sensor2",
                         "tsens_tz_sensor3", "tsens_tz_sensor4"};
  std::string text;
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) text += "\r\n\r\n";
    text += std::string("+QTEMP: \"") + names[i % 8] + "\"," + values[i];
  }
  return text;
}

TEST_F(TemperaturesTest, ReadsTheLeftoverLinesAnsweredToThePlainAt) {
  // The sample holds the eight lines as one response: what the AT after AT+QTEMP gets back.
  EXPECT_EQ(1, TakeTemperatures(ctx_, Reply("AT-QTEMP_same-read-variant.mmcli.stdout").c_str()));
  const uint32_t order[] = {kTXO_i, kTCT_i, kTPA1_i, kTS0_i, kTS1_i, kTS2_i, kTS3_i, kTS4_i};
  const char* expected[] = {"33", "33", "33", "35", "35", "35", "34", "35"};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(expected[i], Value(order[i])) << i;
}

TEST_F(TemperaturesTest, CleansEachValueRow) {
  const std::string reply =
      Answer(QtempLines({"\"41\"", "39", "'40'", "-5", "\"1234\"", " 7", "\"\"", "\"35\""}));
  EXPECT_EQ(1, TakeTemperatures(ctx_, reply.c_str()));
  EXPECT_EQ("41", Value(kTXO_i));
  EXPECT_EQ("39", Value(kTCT_i));
  EXPECT_EQ("40", Value(kTPA1_i));
  EXPECT_EQ("-5", Value(kTS0_i));
  EXPECT_EQ("", Value(kTS1_i));
  EXPECT_TRUE(Written(kTS1_i));
  EXPECT_EQ("7", Value(kTS2_i));
  EXPECT_EQ("", Value(kTS3_i));
  EXPECT_EQ("35", Value(kTS4_i));
}

TEST_F(TemperaturesTest, AnythingButSixteenRowsStoresNothing) {
  const std::vector<std::string> seven(7, "\"30\"");
  const std::vector<std::string> nine(9, "\"30\"");
  const std::vector<std::string> many(40, "\"30\"");
  const std::string cases[] = {
      Answer(QtempLines(seven)),
      Answer(QtempLines(nine)),
      Answer(QtempLines(many)),  // more than 64 pieces
      Reply("AT-QTEMP_leftover-prepended-to-next-AT-CSQ.mmcli.stdout"),  // 18 rows
      Reply("AT-QTEMP.mmcli.stdout"),
      Answer("+QTEMP: "),
  };
  for (const std::string& reply : cases) {
    EXPECT_EQ(0, TakeTemperatures(ctx_, reply.c_str())) << reply;
    EXPECT_FALSE(Written(kTXO_i)) << reply;
  }
}

}  // namespace
