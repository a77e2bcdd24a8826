// The radio readings of a full pass against the simulated router: the values stored (through the
// daemon's -c echo lines), the LED commands and the modem requests in the order the fakes logged.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/sim_router.h"
#include "tests/support/test_files.h"

namespace {

constexpr char kPassEnd[] = "Calling sleep for ";
constexpr int kPassTimeoutMs = 15000;

// The output of pass `n` (from 1): the text between the end of pass n-1 and the end of pass n.
std::string Pass(const std::string& output, int n) {
  size_t start = 0;
  for (int i = 1; i < n && start != std::string::npos; ++i) start = output.find(kPassEnd, start + 1);
  if (start == std::string::npos) return "";
  const size_t end = output.find(kPassEnd, start + 1);
  return output.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// The value of the last echo line for `name` in `text`, or "<none>" when it was not stored.
std::string Stored(const std::string& text, const std::string& name) {
  const std::string marker = "Value:  " + name + " '";
  const size_t pos = text.rfind(marker);
  if (pos == std::string::npos) return "<none>";
  const size_t start = pos + marker.size();
  return text.substr(start, text.find("'\n", start) - start);
}

// The LED commands of the calls log, in order.
std::vector<std::string> LedCalls(const std::vector<std::string>& calls) {
  std::vector<std::string> leds;
  for (const std::string& call : calls) {
    if (call.rfind("gpio ", 0) == 0) leds.push_back(call.substr(5));
  }
  return leds;
}

// Index of the first call containing `text` at or after `from`; -1 when none.
int FindCall(const std::vector<std::string>& calls, const std::string& text, int from = 0) {
  for (int i = from; i < static_cast<int>(calls.size()); ++i) {
    if (calls[i].find(text) != std::string::npos) return i;
  }
  return -1;
}

const std::vector<std::string> kGreen = {"led hpue_blue off", "led hpue_green on"};
const std::vector<std::string> kBlue = {"led hpue_green off", "led hpue_blue on"};

class RadioE2E : public ::testing::Test {
 protected:
  // Runs one pass per scenario, in order, and returns the daemon's output.
  std::string RunPasses(const std::vector<std::string>& scenarios) {
    sim_.SetScenario(scenarios[0]);
    DaemonProcess daemon(sim_, {"-c"});
    for (size_t n = 0; n < scenarios.size(); ++n) {
      sim_.SetScenario(scenarios[n]);
      EXPECT_TRUE(daemon.WaitForOutputCount(kPassEnd, static_cast<int>(n) + 1, kPassTimeoutMs))
          << daemon.Output();
    }
    daemon.Stop();
    return daemon.Output();
  }
  std::string DefaultAnswer(const std::string& key) {
    return ReadFile(sim_.Path("sim/scenarios/default/" + key));
  }
  SimRouter sim_;
};

// Pass 1 is the default modem; pass 2 has no secondary cell; pass 3 answers AT+QTEMP with the
// readings themselves (so the plain AT after it gets nothing) and gives a home network name
// without quotes.
TEST_F(RadioE2E, PassesFillEveryRadioValue) {
  sim_.MakeScenario("plain-name", "qtemp-same-read");
  sim_.AddAnswer("plain-name", "home-network.sh @", "310\n260\nSim Mobile\n");
  const std::string out = RunPasses({"default", "ca-none", "plain-name"});
  const std::string pass = Pass(out, 1);
  // Qmi_CaBand_i: qmicli prints 'eutran-2', the walk takes "-2", its absolute value is stored.
  const std::pair<const char*, const char*> expected[] = {
      {"ScMode_s", "LTE"},          {"ScId_i", "169552899"},      {"ScMcc_i", "310"},
      {"ScMnc_i", "260"},           {"ScPId_i", "251"},           {"ScEarfcn_i", "2175"},
      {"ScFb_i", "4"},              {"ScUlb_f", "20"},            {"ScDlb_f", "20"},
      {"ScTac_i", "32287"},         {"ScRsrp_i", "-96"},          {"ScRsrq_i", "-11"},
      {"ScRssi_i", "-66"},          {"ScSinr_f", "6.000000"},     {"ScRx_i", "-100"},
      {"UeRssi_i", "-67"},          {"UeRxQual_i", "99"},         {"MCBV_s", "0x5af0"},
      {"MCLBV_s", "0x2000001e0bb1f39df"},                         {"GID1_i", "FF"},
      {"GID2_i", " FF"},            {"AtTxBytes_i", "237505722"}, {"AtRxBytes_i", "614994307"},
      {"TXO_i", "33"},              {"TCT_i", "33"},              {"TPA1_i", "33"},
      {"TS0_i", "35"},              {"TS1_i", "35"},              {"TS2_i", "35"},
      {"TS3_i", "34"},              {"TS4_i", "35"},              {"QmiRxC0RxPwr_f", "-61.2"},
      {"QmiRxC0Ecio_f", "-5.5"},    {"QmiRxC0Rsrp_f", "-93.6"},   {"QmiRxC0Phase_f", "13.06"},
      {"QmiRxC1RxPwr_f", "-65.5"},  {"QmiRxC1Ecio_f", "-6.1"},    {"QmiRxC1Rsrp_f", "-98.1"},
      {"QmiRxC1Phase_f", ""},       {"QmiTxPwr_f", "4.3"},        {"Qmi_CaBand_i", "2"},
      {"Qmi_ScSnr_f", "13.2"},      {"HnMcc_i", "310"},           {"HnMnc_i", "260"},
      {"HnName_s", "Sim Mobile"},
  };
  for (const auto& [name, value] : expected) EXPECT_EQ(value, Stored(pass, name)) << name;
  EXPECT_NE(std::string::npos, pass.find("Fixed Value:  MCBV_s '0x5af0'"));
  EXPECT_NE(std::string::npos, pass.find("Fixed Value:  GID1_i 'FF'"));
  EXPECT_EQ("<none>", Stored(Pass(out, 2), "Qmi_CaBand_i"));
  EXPECT_EQ(std::string::npos, Pass(out, 2).find("GetCAInfo failed"));
  EXPECT_NE(std::string::npos, pass.find("Row: 2, \"Sim Mobile\""));
  EXPECT_EQ("SimMobile", Stored(Pass(out, 3), "HnName_s"));
  EXPECT_EQ(1, sim_.CountCalls("--command=AT+QGID"));
  EXPECT_EQ("<none>", Stored(Pass(out, 2) + Pass(out, 3), "GID1_i"));

  // The readings come back with the plain AT after AT+QTEMP; those that come with AT+QTEMP
  // itself are not looked at.
  const std::vector<std::string> calls = sim_.Calls();
  const int qtemp = FindCall(calls, "--command=AT+QTEMP");
  ASSERT_GE(qtemp, 0);
  ASSERT_LT(qtemp + 1, static_cast<int>(calls.size()));
  EXPECT_EQ("mmcli -m 0 --command=AT", calls[qtemp + 1]);
  EXPECT_EQ("<none>", Stored(Pass(out, 3), "TXO_i"));
  EXPECT_EQ(3, sim_.CountCalls("--command=AT+QTEMP"));
  EXPECT_TRUE(sim_.UnknownCalls().empty());
}

// The serving cell applies the LED rule with the previous transmit power, the TX/RX report with
// its own, which only a complete TX block gives: pass 1 is not in traffic (no TX power row),
// pass 2 is cut right after the power's name (27 rows), pass 3 has 26.5 dBm, pass 4 4.3 dBm.
TEST_F(RadioE2E, TransmitPowerAndLedsInOrder) {
  const std::string tx = DefaultAnswer("qmicli_-d_@_-p_--nas-get-tx-rx-info=lte.out");
  std::string high = tx;
  high.replace(high.find("4.3 dBm"), 7, "26.5 dBm");
  sim_.MakeScenario("tx-27");
  sim_.AddAnswer("tx-27", "qmicli -d @ -p --nas-get-tx-rx-info=lte",
                 tx.substr(0, tx.find(": '4.3 dBm'")));
  sim_.MakeScenario("tx-high");
  sim_.AddAnswer("tx-high", "qmicli -d @ -p --nas-get-tx-rx-info=lte", high);
  const std::string out = RunPasses({"tx-not-in-traffic", "tx-27", "tx-high", "default"});

  for (int n : {1, 2}) {
    const std::string pass = Pass(out, n);
    EXPECT_EQ("-61.2", Stored(pass, "QmiRxC0RxPwr_f")) << n;
    EXPECT_EQ("-98.1", Stored(pass, "QmiRxC1Rsrp_f")) << n;
    EXPECT_EQ("<none>", Stored(pass, "QmiTxPwr_f")) << n;
  }
  EXPECT_EQ("26.5", Stored(Pass(out, 3), "QmiTxPwr_f"));
  EXPECT_EQ("4.3", Stored(Pass(out, 4), "QmiTxPwr_f"));

  const std::vector<std::string> calls = sim_.Calls();
  std::vector<std::string> expected_leds;
  for (const auto* leds : {&kGreen, &kGreen, &kGreen, &kBlue, &kBlue, &kGreen}) {
    expected_leds.insert(expected_leds.end(), leds->begin(), leds->end());
  }
  EXPECT_EQ(expected_leds, LedCalls(calls));

  // In pass 3 each pair follows its request: the serving cell's before the signal quality
  // request, the transmit power's before the carrier aggregation request.
  int qeng = -1;
  for (int n = 0; n < 3; ++n) qeng = FindCall(calls, "--command=AT+QENG=", qeng + 1);
  const int csq = FindCall(calls, "--command=AT+CSQ", qeng);
  const int txrx = FindCall(calls, "--nas-get-tx-rx-info=lte", csq);
  const int ca = FindCall(calls, "--nas-get-lte-cphy-ca-info", txrx);
  ASSERT_TRUE(qeng >= 0 && csq > qeng && txrx > csq && ca > txrx);
  EXPECT_EQ("gpio led hpue_blue off", calls[qeng + 1]);
  EXPECT_EQ("gpio led hpue_green on", calls[qeng + 2]);
  EXPECT_EQ(qeng + 3, csq);
  EXPECT_EQ("gpio led hpue_green off", calls[txrx + 1]);
  EXPECT_EQ("gpio led hpue_blue on", calls[txrx + 2]);
  EXPECT_EQ(txrx + 3, ca);
}

}  // namespace
