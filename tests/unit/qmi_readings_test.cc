#include "modem/qmi_readings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modem/collectors.h"
#include "modem/serving_cell.h"
#include "tests/unit/radio_fixture.h"

namespace {

constexpr uint32_t kChainValues[] = {kQmiRxC0RxPwr_f,  kQmiRxC0Ecio_f, kQmiRxC0Rsrp_f,
                                     kQmiRxC0Phase_f,  kQmiRxC1RxPwr_f, kQmiRxC1Ecio_f,
                                     kQmiRxC1Rsrp_f,   kQmiRxC1Phase_f};

class TxRxInfoTest : public RadioTest {
 protected:
  void SetUp() override {
    RadioTest::SetUp();
    modem_.lastTxPower = 7;
  }
  std::vector<std::string> Chains() {
    std::vector<std::string> values;
    for (uint32_t index : kChainValues) values.push_back(Value(index));
    return values;
  }
};

const std::vector<std::string> kSampleChains = {"-61.2", "-5.5", "-93.6", "13.06",
                                                "-65.5", "-6.1", "-98.1", ""};

// Without traffic the TX power row is missing; a report cut after the power's name has 27 rows;
// a modem with four chains puts chain 2 where the TX block stands with two. None of them gives a
// transmit power.
TEST_F(TxRxInfoTest, NoCompleteTxBlockKeepsThePower) {
  const std::string f1 = PlatformSample("qmicli_nas-get-tx-rx-info-lte.stdout");
  std::string four_chains = f1;
  four_chains.replace(four_chains.find("TX:"), 0,
                      "RX Chain 2:\n\tRadio tuned: 'yes'\n\tPower: '-70.0 dBm'\n\tECIO: '-7.0 dB'\n"
                      "\tRSRP: '-99.0 dBm'\n\tPhase: 'unknown'\n");
  const std::string outputs[] = {
      PlatformSample("qmicli_nas-get-tx-rx-info-lte_tx-not-in-traffic.stdout"),
      f1.substr(0, f1.find(": '4.3")),
      four_chains,
  };
  for (const std::string& output : outputs) {
    Preset(kQmiTxPwr_f, "25.0");
    EXPECT_EQ(0, TakeTxRxInfo(ctx_, ParseTxRxInfo(output.c_str()))) << output;  // GetTxRxInfo leaves the LEDs
    EXPECT_EQ(kSampleChains, Chains()) << output;
    EXPECT_EQ("25.0", Value(kQmiTxPwr_f)) << output;
    EXPECT_EQ(7, modem_.lastTxPower) << output;
    EXPECT_TRUE(board_.Calls().empty()) << output;
  }
}

// The in-traffic sample as it is (4.3 dBm) and with other powers: 24 or more lights blue.
TEST_F(TxRxInfoTest, TransmitPowerIsStoredAndSelectsTheLed) {
  const std::string f1 = PlatformSample("qmicli_nas-get-tx-rx-info-lte.stdout");
  const std::vector<std::string> green = {"leds low"};
  const std::vector<std::string> blue = {"leds high"};
  struct Case {
    const char* power;
    const char* stored;
    int32_t last;
    bool blue;
  };
  const Case cases[] = {
      {"4.3 dBm", "4.3", 4, false},    {"24.0 dBm", "24.0", 24, true},
      {"23.9 dBm", "23.9", 23, false}, {"-3.5 dBm", "-3.5", -3, false},
      {"31 dBm", "31", 31, true},
  };
  for (const Case& c : cases) {
    std::string output = f1;
    output.replace(output.find("4.3 dBm"), 7, c.power);
    board_.Clear();
    ASSERT_EQ(1, TakeTxRxInfo(ctx_, ParseTxRxInfo(output.c_str()))) << c.power;
    SetHpueLed(board_, modem_.lastTxPower);  // as GetTxRxInfo follows a stored power
    EXPECT_EQ(kSampleChains, Chains()) << c.power;
    EXPECT_TRUE(Written(kQmiRxC1Phase_f));  // 'unknown' phase stores the empty text
    EXPECT_EQ(c.stored, Value(kQmiTxPwr_f)) << c.power;
    EXPECT_EQ(c.last, modem_.lastTxPower) << c.power;
    EXPECT_EQ(c.blue ? blue : green, board_.Calls()) << c.power;
  }
}

TEST_F(TxRxInfoTest, ShortOrFailedOutput) {
  TakeTxRxInfo(ctx_, ParseTxRxInfo("[/dev/cdc-wdm0] Successfully got TX/RX info\nRX Chain 0:\n"));
  for (uint32_t index : kChainValues) {
    EXPECT_TRUE(Written(index));
    EXPECT_EQ("", Value(index));
  }
  Mark();
  TakeTxRxInfo(ctx_, ParseTxRxInfo("error: couldn't get TX/RX info: QMI protocol error (15): 'OutOfCall'\n"));
  for (uint32_t index : kChainValues) EXPECT_FALSE(Written(index));
}

using CaInfoTest = RadioTest;

TEST_F(CaInfoTest, SecondaryCellBandAsAbsoluteNumber) {
  struct Case {
    const char* sample;
    int stored;
  };
  const Case cases[] = {
      {"qmicli_nas-get-lte-cphy-ca-info_scell-legacy-tlv.stdout", 1},
      {"qmicli_nas-get-lte-cphy-ca-info_scell-array-tlv.stdout", 1},
      {"qmicli_nas-get-lte-cphy-ca-info_no-scell.stdout", 0},
  };
  for (const Case& c : cases) {
    Preset(kQmi_CaBand_i, "");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(c.stored, TakeCAInfo(ctx_, ParseCaInfo(PlatformSample(c.sample).c_str()))) << c.sample;
    EXPECT_EQ("", testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr());
    EXPECT_EQ(c.stored ? "2" : "", Value(kQmi_CaBand_i)) << c.sample;
    EXPECT_EQ(c.stored == 1, Written(kQmi_CaBand_i)) << c.sample;
  }
}

TEST_F(CaInfoTest, BandNumbers) {
  const std::string f3 = PlatformSample("qmicli_nas-get-lte-cphy-ca-info_scell-legacy-tlv.stdout");
  const std::pair<const char*, const char*> cases[] = {
      {"eutran-66", "66"}, {"-12", "12"}, {"7", "7"}, {"eutran-1234567", "12345"}};
  for (const auto& [band, stored] : cases) {
    std::string output = f3;
    output.replace(output.find("eutran-2"), 8, band);
    TakeCAInfo(ctx_, ParseCaInfo(output.c_str()));
    EXPECT_EQ(stored, Value(kQmi_CaBand_i)) << band;
  }
}

using SignalInfoTest = RadioTest;

TEST_F(SignalInfoTest, RealLteReport) {
  testing::internal::CaptureStdout();
  TakeSignalInfo(ctx_, ParseSignalInfo(PlatformSample("qmicli_nas-get-signal-info-lte.stdout").c_str()));
  const std::string echo = testing::internal::GetCapturedStdout();
  EXPECT_EQ("13.2", Value(kQmi_ScSnr_f));
  EXPECT_EQ(0u, echo.find("Row: 0, [/dev/cdc-wdm0] Successfully got signal info\nRow: 1, LTE\n"));
  EXPECT_NE(std::string::npos, echo.find("Row: 9,  '13.2 dB'\n"));
}

TEST_F(SignalInfoTest, ShortReportStoresEmptyTextAndAnErrorNothing) {
  Preset(kQmi_ScSnr_f, "9.0");
  TakeSignalInfo(ctx_, ParseSignalInfo("error: couldn't get signal info: QMI protocol error (15): 'OutOfCall'\n"));
  EXPECT_EQ("9.0", Value(kQmi_ScSnr_f));
  testing::internal::CaptureStdout();
  TakeSignalInfo(ctx_, ParseSignalInfo("a:b:c:d:e\n"));
  EXPECT_EQ("Row: 0, a\nRow: 1, b\nRow: 2, c\nRow: 3, d\nRow: 4, e\n",
            testing::internal::GetCapturedStdout());
  EXPECT_EQ("", Value(kQmi_ScSnr_f));
  EXPECT_TRUE(Written(kQmi_ScSnr_f));
}

using HomeNetworkTest = RadioTest;

TEST_F(HomeNetworkTest, ThreeLines) {
  struct Case {
    const char* output;
    const char* mcc;
    const char* mnc;
    const char* name;
  };
  const Case cases[] = {
      {"310\n260\n\"T-Mobile US\"\n", "310", "260", "T-Mobile US"},
      {"310\n260\nT-Mobile US\n", "310", "260", "T-MobileUS"},
      {"310\n260\n'My  Net' x\n", "310", "260", "My  Net"},
      {"MCC: 310\nMNC: 04\n", "310", "04", ""},
      {"001\n", "001", "", ""},
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStdout();
    TakeHomeNetwork(ctx_, c.output);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(c.mcc, Value(kHnMcc_i)) << c.output;
    EXPECT_EQ(c.mnc, Value(kHnMnc_i)) << c.output;
    EXPECT_EQ(c.name, Value(kHnName_s)) << c.output;
    EXPECT_TRUE(Written(kHnName_s)) << c.output;
  }
}

}  // namespace
