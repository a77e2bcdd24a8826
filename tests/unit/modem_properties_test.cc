#include "modem/modem_properties.h"

#include <gtest/gtest.h>

#include <string>

#include "modem/collectors.h"
#include "modem/modem_pass.h"
#include "modem/mmcli_link.h"
#include "modem/modem_session.h"
#include "status/status_table.h"
#include "tests/support/fake_board.h"
#include "tests/support/platform_samples.h"
#include "tests/support/table_access.h"
#include "tests/support/client_links.h"

namespace {

class ModemPropertiesTest : public ::testing::Test {
 protected:
  void SetUp() override { modem_.bearerIndex = -1; }
  std::string Value(StatusIndex index) const { return EntryOf(table_, index).value; }
  // One line as mmcli prints it: the key padded to `width`, " : ", the value.
  static std::string Line(const std::string& key, const std::string& value, size_t width = 47) {
    std::string padded = key;
    if (padded.size() < width) padded.append(width - padded.size(), ' ');
    return padded + " : " + value + "\n";
  }
  // Reads one key-value listing as the mmcli link does and stores the properties it holds.
  void Take(const char* output) {
    ModemProperties properties{};
    ReadModemKeyValues(output, &properties);
    StoreModemProperties(ctx_, properties);
    BearerProperties bearer{};
    ReadBearerKeyValues(output, &bearer);
    StoreBearerProperties(ctx_, bearer);
  }
  ModemSession modem_;
  StatusTable table_;
  RecordingBoard board_;
  ClientLinks links_;
  ModemPass ctx_{table_, modem_, board_, links_.mmcli, links_.qmicli};
};

TEST_F(ModemPropertiesTest, ReadsTheCapturedModemAndBearerListings) {
  Take(PlatformSample("mmcli-m0-K_mm1.20.stdout").c_str());
  EXPECT_EQ("64%", Value(kSignalPercent_s));
  EXPECT_EQ("866758041234564", Value(kIMEI_s));
  EXPECT_EQ("555.123.0147", Value(kPhoneNumber_s));  // 11 digits: the country digit dropped
  EXPECT_STREQ("fast.t-mobile.com", modem_.initialBearerApn);
  EXPECT_EQ(2, modem_.bearerIndex);
  EXPECT_EQ(1, EntryOf(table_, kIMEI_s).fixed);
  EXPECT_EQ(0, EntryOf(table_, kSignalPercent_s).fixed);
  // The bearer's listing has narrower padding.
  Take(PlatformSample("mmcli-b2-K.stdout").c_str());
  EXPECT_STREQ("fast.t-mobile.com", modem_.bearerApn);
}

TEST_F(ModemPropertiesTest, NoValueMarkReadsAsEmpty) {
  table_.UpdateFixed(kIMEI_s, "old");
  const std::string output =
      Line("modem.3gpp.imei", "--") + Line("modem.3gpp.eps.initial-bearer.settings.apn", "--") +
      Line("modem.generic.signal-quality.value", "--") + Line("bearer.properties.apn", "--", 40);
  strcpy(modem_.bearerApn, "stale");
  strcpy(modem_.initialBearerApn, "stale");
  Take(output.c_str());
  EXPECT_EQ("", Value(kIMEI_s));
  EXPECT_EQ("", Value(kSignalPercent_s));
  EXPECT_STREQ("", modem_.initialBearerApn);
  EXPECT_STREQ("", modem_.bearerApn);
}

TEST_F(ModemPropertiesTest, ValueTextKeptAsItComes) {
  const std::pair<std::string, const char*> cases[] = {
      {Line("modem.3gpp.imei", "a: b -- c"), "a: b -- c"},  // colons and dashes inside
      {"modem.3gpp.imei : 12\\\t34", "1234"},  // no line end; backslash and tab dropped
  };
  for (const auto& [output, imei] : cases) {
    Take(output.c_str());
    EXPECT_EQ(imei, Value(kIMEI_s)) << output;
  }
}

TEST_F(ModemPropertiesTest, LongValueIsCutTo127AndTheRestOfItsLineSkipped) {
  const std::string long_value(200, '7');
  const std::string output = Line("modem.3gpp.eps.initial-bearer.settings.apn", long_value) +
                             Line("modem.3gpp.imei", "123");
  Take(output.c_str());
  EXPECT_EQ(std::string(127, '7'), modem_.initialBearerApn);
  EXPECT_EQ("123", Value(kIMEI_s));

  Take(Line("modem.3gpp.imei", std::string(127, '8')).c_str());
  EXPECT_EQ(std::string(127, '8'), Value(kIMEI_s));
}

TEST_F(ModemPropertiesTest, ReadingStopsAtALineWithoutColonOrBlank) {
  for (const char* stray : {"stray words here\n", "nothing\n"}) {
    const std::string output = Line("modem.3gpp.imei", "111") + stray +
                               Line("modem.generic.signal-quality.value", "50");
    Take(output.c_str());
    EXPECT_EQ("111", Value(kIMEI_s)) << stray;
    EXPECT_EQ("", Value(kSignalPercent_s)) << stray;  // the next line's colon is not borrowed
  }
}

TEST_F(ModemPropertiesTest, BearerPathWithoutBearerPartLeavesIndex) {
  Take(Line("modem.generic.bearers.value[1]", "/org/x/Thing/3").c_str());
  EXPECT_EQ(-1, modem_.bearerIndex);
  Take(
      Line("modem.generic.bearers.value[1]", "/org/freedesktop/ModemManager1/Bearer/17").c_str());
  EXPECT_EQ(17, modem_.bearerIndex);
}

// Only a value the modem itself gave ModemManager counts as its answer; ModemManager's own
// placeholders (no value, signal 0) and values of the SIM or the network do not.
TEST_F(ModemPropertiesTest, ModemValuesMarkThePropertiesWayAnswered) {
  struct Case {
    std::string output;
    bool answered;
  } cases[] = {
      {Line("modem.3gpp.imei", "866758041234564"), true},
      {Line("modem.generic.revision", "EM12GPAR01A21M4G"), true},
      {Line("modem.generic.signal-quality.value", "64"), true},
      {Line("modem.generic.signal-quality.value", "0"), false},
      {Line("modem.3gpp.imei", "--") + Line("modem.generic.revision", "--") +
           Line("modem.generic.signal-quality.value", "--"),
       false},
      {Line("modem.generic.own-numbers.value[1]", "15551230147") +
           Line("modem.3gpp.eps.initial-bearer.settings.apn", "fast.t-mobile.com") +
           Line("modem.generic.state", "failed"),
       false},
      {Line("bearer.properties.apn", "fast.t-mobile.com", 40), false},
      // Reading stops at the line without a colon: the IMEI after it is never read.
      {"modem.generic.state failed\n" + Line("modem.3gpp.imei", "866758041234564"), false},
      {"", false},
  };
  for (const Case& c : cases) {
    modem_ = ModemSession{};
    Take(c.output.c_str());
    EXPECT_EQ(c.answered, modem_.lifeSigns.Answered(ModemWay::kProperties)) << c.output;
    EXPECT_FALSE(modem_.lifeSigns.Answered(ModemWay::kQmi));
    EXPECT_FALSE(modem_.lifeSigns.Asked());
  }
  // The captured listings of a healthy modem.
  modem_ = ModemSession{};
  Take(PlatformSample("mmcli-m0-K_mm1.20.stdout").c_str());
  EXPECT_TRUE(modem_.lifeSigns.Answered(ModemWay::kProperties));
}

// With no APN from the modem the configured one is shown and stored; without either, none.
TEST_F(ModemPropertiesTest, ConfiguredApnStandsInWhenTheModemNamesNone) {
  modem_.modemIndex = -1;  // nothing to ask
  for (const bool configured : {false, true}) {
    ctx_.network.wwanApn.found = configured;
    snprintf(ctx_.network.wwanApn.text, sizeof ctx_.network.wwanApn.text, "%s",
             configured ? "iot.apn" : "");
    testing::internal::CaptureStdout();
    GetModemProperties(ctx_);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(configured ? "iot.apn" : "", Value(kApn_s));
    EXPECT_EQ(configured ? "Lookup for name: 'network.wwan.apn' = 'iot.apn'\nAPN: 'iot.apn'\n"
                         : "Lookup for name: 'network.wwan.apn' failed\n",
              out);
  }
}

TEST(FormatPhoneNumber, Forms) {
  struct Case {
    const char* value;
    const char* stored;
    bool complains;
  } cases[] = {
      {"5551230147", "555.123.0147", false},
      {"15551230147", "555.123.0147", false},
      {"+15551230147", "+15551230147", true},
      {"555", "555", true},
      {"", "", true},
  };
  for (const Case& c : cases) {
    char out[128];
    testing::internal::CaptureStdout();
    FormatPhoneNumber(c.value, out, sizeof out);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_STREQ(c.stored, out) << c.value;
    EXPECT_EQ(c.complains, printed.find("Invalid length of") != std::string::npos) << c.value;
  }
}

}  // namespace
