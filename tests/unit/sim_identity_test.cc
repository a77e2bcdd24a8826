#include "modem/sim_identity.h"

#include <gtest/gtest.h>

#include <string>

#include "modem/modem_pass.h"
#include "modem/modem_session.h"
#include "status/status_table.h"
#include "tests/support/fake_board.h"
#include "tests/support/table_access.h"
#include "tests/support/client_links.h"

namespace {

// Replies as the command channel hands them over: mmcli's response line without its first ten
// characters ("response: "), so the opening quote leads and the closing quote is gone.
class SimIdentityTest : public ::testing::Test {
 protected:
  void SetUp() override {}
  std::string Value(StatusIndex index) const { return EntryOf(table_, index).value; }
  ModemSession modem_;
  StatusTable table_;
  RecordingBoard board_;
  ClientLinks links_;
  ModemPass ctx_{table_, modem_, board_, links_.mmcli, links_.qmicli};
};

TEST_F(SimIdentityTest, SimStateNeedsTextAfterReady) {
  struct Case {
    const char* reply;
    int ready;
  } cases[] = {
      {"'+CPIN: READY\r\n\r\nOK", 1},
      {"'+CPIN: READY", 0},  // as mmcli hands it over: nothing follows READY
      {"'+CPIN: SIM PIN\r\n", 0},
      {"'+CME ERROR: 10 +CPIN: READY\r\n", 0},
      {"'", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(c.ready, TakeSimState(ctx_, c.reply)) << c.reply;
}

// Digits only (the captured reply's padding letter goes); a reply without digits is refused.
TEST_F(SimIdentityTest, IccidKeepsDigitsOnly) {
  EXPECT_EQ(1, TakeIccid(ctx_, "'+QCCID: 8901260412345678901F"));
  EXPECT_EQ("8901260412345678901", Value(kICCID_s));
  EXPECT_EQ(1, EntryOf(table_, kICCID_s).fixed);
  EXPECT_EQ(1, TakeIccid(ctx_, "'+QCCID: 89-01.26"));
  EXPECT_EQ("890126", Value(kICCID_s));
  EXPECT_EQ(0, TakeIccid(ctx_, "'+QCCID: --"));
  EXPECT_EQ(0, TakeIccid(ctx_, "'error: command failed"));
  EXPECT_EQ("890126", Value(kICCID_s));
}

TEST_F(SimIdentityTest, ImsiTakesTheFirstFifteenDigits) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(0, TakeImsi(ctx_, "'31026012345678"));  // 14 digits
  testing::internal::GetCapturedStdout();
  EXPECT_EQ("", Value(kIMSI_s));
  EXPECT_EQ(1, TakeImsi(ctx_, "'3102601234567890"));
  EXPECT_EQ("310260123456789", Value(kIMSI_s));
}

TEST_F(SimIdentityTest, SwVersionNeedsAnEm12Word) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(0, TakeSwVersion(ctx_, "'EG25GGBR07A08M2G"));
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_NE(std::string::npos, printed.find("DoRegX got no match")) << printed;
  EXPECT_EQ("", Value(kModemSwVersion_s));
  EXPECT_EQ(1, TakeSwVersion(ctx_, "'EM12GPAR01A21M4G"));
  EXPECT_EQ("EM12GPAR01A21M4G", Value(kModemSwVersion_s));
  EXPECT_EQ(0, TakeSwVersion(ctx_, "'XEM12GPAR"));  // not at a word start
}

}  // namespace
