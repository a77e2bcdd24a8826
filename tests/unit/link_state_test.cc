#include "modem/link_state.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "base/paths.h"
#include "base/signals.h"
#include "modem/collectors.h"
#include "modem/modem_pass.h"
#include "modem/modem_session.h"
#include "status/status_table.h"
#include "tests/support/fake_board.h"
#include "tests/support/table_access.h"
#include "tests/support/test_files.h"
#include "tests/support/client_links.h"

namespace {

class LinkStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    signal_disconnect = 0;
    setenv("MODEM_STATUS_ROOT", root_.path().c_str(), 1);
    ReloadPathRoot();
  }
  void TearDown() override {
    signal_disconnect = 0;
    unsetenv("MODEM_STATUS_ROOT");
    ReloadPathRoot();
  }
  std::string Value(StatusIndex index) const { return EntryOf(table_, index).value; }
  std::string Counters() const {
    return Value(kWWanRxBytes_i) + "," + Value(kWWanRxPkts_i) + "," + Value(kWWanTxBytes_i) + "," +
           Value(kWWanTxPkts_i);
  }
  TempDir root_;
  StatusTable table_;
  ModemSession modem_;
  RecordingBoard board_;
  ClientLinks links_;
  ModemPass ctx_{table_, modem_, board_, links_.mmcli, links_.qmicli};
};

TEST_F(LinkStateTest, StoresCountersOfTheWwan0Line) {
  // A short line leaves the missing counters empty and keeps no line end.
  TakeNetDevLine(ctx_, "wwan0: 5 6 0 0 0 0 0 0 7\n");
  EXPECT_EQ("5,6,7,", Counters());

  // The file is read in 4 KB blocks: a line cut by a block's end, or one longer than a line
  // buffer (read in 1022-character pieces, as fgets would), must not hide or garble wwan0's line.
  std::string blocks = "head\nhead\n" + std::string(1500, 'y') + "\n";
  while (blocks.size() < 4090) blocks += "  eth0: 1 2 0 0 0 0 0 0 3 4 0\n";
  blocks.resize(4090);
  blocks += "\n wwan0: 11 12 0 0 0 0 0 0 13 14 0\n  lo: 0 0\n";
  const std::pair<std::string, const char*> files[] = {
      {ReadFile(std::string(PLATFORM_SAMPLE_DIR) + "/proc-net-dev.txt"),
       "611204883,498231,233905116,301877"},
      {"head\nhead\nwwan0.5: 1 2 0 0 0 0 0 0 3 4 0\n wwan0: 9 9 0 0 0 0 0 0 9 9 0\n", "1,2,3,4"},
      {blocks, "11,12,13,14"},
  };
  for (const auto& [content, counters] : files) {
    WriteFile(root_ / "proc/net/dev", content);
    GetKxNetworkInfo(ctx_);
    EXPECT_EQ(counters, Counters()) << content.substr(0, 80);
  }
}

TEST_F(LinkStateTest, ExpiresLinkValuesOncePerTransition) {
  table_.Update(kUeRssi_i, "-70", 0);
  signal_disconnect = 1;  // down before the first up: nothing expires
  EXPECT_EQ(0, GetLTEConnectionStatus(ctx_));
  EXPECT_LT(0, EntryOf(table_, kUeRssi_i).lastUpdate);
  signal_disconnect = 0;
  EXPECT_EQ(1, GetLTEConnectionStatus(ctx_));   // down -> up: nothing expired
  table_.UpdateFixed(kApn_s, "apn");            // kind 2
  table_.Update(kIMEI_s, "1", 0);               // kind 1
  table_.UpdateFixed(kPdpIpAddr_s, "1.2.3.4");  // kind 0 but fixed
  EXPECT_EQ(1, GetLTEConnectionStatus(ctx_));
  EXPECT_LT(0, EntryOf(table_, kUeRssi_i).lastUpdate);

  signal_disconnect = 1;
  EXPECT_EQ(0, GetLTEConnectionStatus(ctx_));
  EXPECT_EQ(-1, EntryOf(table_, kUeRssi_i).lastUpdate);
  EXPECT_LT(0, EntryOf(table_, kApn_s).lastUpdate);
  EXPECT_LT(0, EntryOf(table_, kIMEI_s).lastUpdate);
  EXPECT_LT(0, EntryOf(table_, kPdpIpAddr_s).lastUpdate);

  table_.Update(kUeRssi_i, "-71", 0);  // written while down: current again
  EXPECT_EQ(0, GetLTEConnectionStatus(ctx_));
  EXPECT_LT(0, EntryOf(table_, kUeRssi_i).lastUpdate);

  signal_disconnect = 0;
  EXPECT_EQ(1, GetLTEConnectionStatus(ctx_));
  signal_disconnect = 1;
  EXPECT_EQ(0, GetLTEConnectionStatus(ctx_));
  EXPECT_EQ(-1, EntryOf(table_, kUeRssi_i).lastUpdate);
}

}  // namespace
