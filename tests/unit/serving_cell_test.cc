#include "modem/serving_cell.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modem/collectors.h"
#include "tests/unit/radio_fixture.h"

namespace {

// The fields of a connected EM12 report after "servingcell" (state .. srxlev).
std::vector<std::string> ConnectedFields() {
  return {"\"CONNECT\"", "\"LTE\"", "\"FDD\"", "310", "260", "A1B2C03", "251", "2175", "4",
          "5",           "5",       "7E1F",    "-96", "-11", "-66",     "13",  "11",   "43", "-"};
}

// A serving-cell answer: row 0 "servingcell" and then `fields` (rows 1..).
std::string Qeng(const std::vector<std::string>& fields) {
  std::string text = "+QENG: \"servingcell\"";
  for (const std::string& field : fields) text += "," + field;
  return text;
}

class ServingCellTest : public RadioTest {
 protected:
  void SetUp() override {
    RadioTest::SetUp();
    modem_.lastTxPower = 0;
  }
  // Parses `reply` and returns what went to standard output and standard error.
  std::pair<std::string, std::string> Parse(const std::string& reply, int* result = nullptr) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int r = TakeServingCell(ctx_, reply.c_str());
    if (r != 0) SetHpueLed(board_, modem_.lastTxPower);  // as GetServingCellInfo follows a stored report
    if (result != nullptr) *result = r;
    std::string out = testing::internal::GetCapturedStdout();
    return {out, testing::internal::GetCapturedStderr()};
  }
};

TEST_F(ServingCellTest, RealConnectedReport) {
  int result = 0;
  Parse(Reply("AT-QENG-servingcell_LTE-CONNECT.mmcli.stdout"), &result);
  EXPECT_EQ(1, result);
  const std::pair<uint32_t, const char*> expected[] = {
      {kScMode_s, "LTE"},   {kScId_i, "169552899"}, {kScMcc_i, "310"},      {kScMnc_i, "260"},
      {kScPId_i, "251"},    {kScEarfcn_i, "2175"},  {kScFb_i, "4"},         {kScUlb_f, "20"},
      {kScDlb_f, "20"},     {kScTac_i, "32287"},    {kScRsrp_i, "-96"},     {kScRsrq_i, "-11"},
      {kScRssi_i, "-66"},   {kScSinr_f, "6.000000"}, {kScRx_i, "-100"},
  };
  for (const auto& [index, text] : expected) {
    EXPECT_EQ(text, Value(index)) << EntryOf(table_, index).name;
  }
  EXPECT_EQ((std::vector<std::string>{"leds low"}), board_.Calls());
}

TEST_F(ServingCellTest, RealIdleReportWithDashFieldsKeepsTheReceiveValue) {
  Preset(kScRx_i, "-90");
  Parse(Reply("AT-QENG-servingcell_LTE-NOCONN.mmcli.stdout"));
  EXPECT_EQ("LTE", Value(kScMode_s));
  EXPECT_EQ("-97", Value(kScRsrp_i));
  EXPECT_EQ("2.000000", Value(kScSinr_f));
  EXPECT_EQ("-90", Value(kScRx_i));
  EXPECT_FALSE(Written(kScRx_i));
}

TEST_F(ServingCellTest, RefusedReportsStoreNothingAndLeaveTheLeds) {
  std::vector<std::string> nineteen = ConnectedFields();
  nineteen.resize(18);  // 19 rows with row 18 = "43"
  std::vector<std::string> seventeen = ConnectedFields();
  seventeen.resize(16);
  struct Case {
    std::string reply;
    std::string out;
    std::string err;
  };
  const Case cases[] = {
      {Reply("AT-QENG-servingcell_SEARCH.mmcli.stdout"), "",
       "GetServingCellInfo failed: expected >=18 rows got 2\n"},
      {Answer(Qeng(seventeen)), "", "GetServingCellInfo failed: expected >=18 rows got 17\n"},
      {Answer(Qeng(nineteen)), "GetServingCellInfo failed: expected OK row 18 got: 43\n", ""},
      {Answer("+QENG: \"neighbourcell intra\",\"LTE\",2175,251"), "",
       "GetServingCellInfo failed: expected servingcell in row 0 got: neighbourcell intra\n"},
      {Answer("+QENG: "), "", ""},
      {Answer("+CME ERROR: 3"), "", ""},
  };
  for (const Case& c : cases) {
    const auto [out, err] = Parse(c.reply);
    EXPECT_EQ(c.out, out) << c.reply;
    EXPECT_EQ(c.err, err) << c.reply;
    EXPECT_FALSE(Written(kScMode_s)) << c.reply;
  }
  EXPECT_TRUE(board_.Calls().empty());
}

TEST_F(ServingCellTest, RowCountsThatAreAccepted) {
  std::vector<std::string> eighteen = ConnectedFields();
  eighteen.resize(17);
  std::vector<std::string> nineteen_ok = ConnectedFields();
  nineteen_ok.resize(17);
  nineteen_ok.push_back("OK");
  std::vector<std::string> many = ConnectedFields();
  for (int i = 0; i < 50; ++i) many.push_back("0");  // more than 64 pieces
  const std::string replies[] = {
      Answer(Qeng(eighteen)),
      Answer(Qeng(nineteen_ok)),
      Answer(Qeng(ConnectedFields()) + ",1"),  // 21 rows
      Answer(Qeng(many)),
      Answer(Qeng(ConnectedFields()) + "\r\n\r\nOK"),  // as a raw tty would show it
  };
  for (const std::string& reply : replies) {
    int result = 0;
    const auto [out, err] = Parse(reply, &result);
    EXPECT_EQ(1, result) << reply;
    EXPECT_EQ("", out + err) << reply;
    EXPECT_EQ("-66", Value(kScRssi_i)) << reply;
  }
}

TEST_F(ServingCellTest, FieldConversions) {
  struct Case {
    int row;
    const char* field;
    uint32_t index;
    const char* expected;  // nullptr: left as preset ("keep")
  };
  const Case cases[] = {
      {6, "1A2D001", kScId_i, "27447297"}, {12, "2A", kScTac_i, "42"},
      {12, "-", kScTac_i, "0"},            {10, "5", kScUlb_f, "20"},
      {10, "6", kScUlb_f, nullptr},        {10, "-1", kScUlb_f, nullptr},
      {10, "-", kScUlb_f, "1.4"},          {11, "3", kScDlb_f, "10"},
      {11, "0", kScDlb_f, "1.4"},          {16, "0", kScSinr_f, "-20.000000"},
      {16, "50", kScSinr_f, "80.000000"},  {16, "7", kScSinr_f, "-6.000000"},
      {16, "-", kScSinr_f, "-20.000000"},  {17, "20", kScRx_i, "-91"},
      {17, "-5", kScRx_i, nullptr},        {17, "x", kScRx_i, "-111"},
      {17, " -5", kScRx_i, "-116"},        {17, " -2147483648", kScRx_i, "-2147483648"},
  };
  for (const Case& c : cases) {
    Preset(c.index, "keep");
    std::vector<std::string> fields = ConnectedFields();
    fields[c.row - 1] = c.field;
    Parse(Answer(Qeng(fields)));
    EXPECT_EQ(c.expected != nullptr ? c.expected : "keep", Value(c.index))
        << "row " << c.row << " " << c.field;
  }
}

// The value the parser hands to the store: what stays unchanged is marked, not stored.
TEST_F(ServingCellTest, ParsedValue) {
  struct Case {
    int row;  // field replaced in the connected report, 0 for none
    const char* field;
    bool valid;
    const char* uplink;  // nullptr: no bandwidth text
    bool has_rx;
    int32_t rx;
  };
  const Case cases[] = {
      {0, "", true, "20", true, -100},   {10, "6", true, nullptr, true, -100},
      {10, "0", true, "1.4", true, -100}, {17, "-5", true, "20", false, 0},
      {17, "20", true, "20", true, -91},  {-1, "", false, nullptr, false, 0},
  };
  for (const Case& c : cases) {
    std::vector<std::string> fields = ConnectedFields();
    if (c.row > 0) fields[c.row - 1] = c.field;
    const std::string reply =
        Answer(c.row < 0 ? std::string("+QENG: \"servingcell\",\"NOCONN\"") : Qeng(fields));
    testing::internal::CaptureStderr();
    const ServingCell cell = ParseServingCell(reply.c_str());
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(c.valid, cell.valid) << reply;
    if (!c.valid) continue;
    EXPECT_STREQ("LTE", cell.mode);
    EXPECT_EQ(169552899L, cell.cellId);
    EXPECT_EQ(32287L, cell.trackingArea);
    EXPECT_FLOAT_EQ(6.0f, cell.sinr);
    EXPECT_STREQ(c.uplink, cell.uplinkMhz) << reply;
    EXPECT_EQ(c.has_rx, cell.hasRx) << reply;
    if (c.has_rx) {
      EXPECT_EQ(c.rx, cell.rx) << reply;
    }
  }
  EXPECT_TRUE(board_.Calls().empty());  // parsing alone never drives the LEDs
}

}  // namespace
