#include "modem/status_cycle.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "base/paths.h"
#include "modem/modem_pass.h"
#include "modem/modem_session.h"
#include "status/status_table.h"
#include "tests/support/fake_board.h"
#include "tests/support/table_access.h"
#include "tests/support/test_files.h"
#include "tests/support/client_links.h"

namespace {

class StatusCycleFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("MODEM_STATUS_ROOT", root_.path().c_str(), 1);
    ReloadPathRoot();
  }
  void TearDown() override {
    unsetenv("MODEM_STATUS_ROOT");
    ReloadPathRoot();
  }
  std::string Value(StatusIndex index) const { return EntryOf(table_, index).value; }
  TempDir root_;
  ModemSession modem_;
  StatusTable table_;
  RecordingBoard board_;
  ClientLinks links_;
  ModemPass ctx_{table_, modem_, board_, links_.mmcli, links_.qmicli};
};

TEST_F(StatusCycleFilesTest, ProtocolWithoutItsLineEnd) {
  struct Case {
    const char* content;
    const char* stored;
  } cases[] = {
      {"LTE\n", "LTE"},
      {"LTE\r\n", "LTE"},
      {"LTE", "LTE"},
      {"L\nTE\n", "L\nTE"},
      {"0123456789012345678901234567890123456789", "0123456789012345678901234567890"},
  };
  for (const Case& c : cases) {
    WriteFile(root_ / "tmp/corvane/protocol", c.content);
    StoreProtocol(ctx_);
    EXPECT_EQ(c.stored, Value(kProtocol_s)) << c.content;
  }
  unlink((root_ / "tmp/corvane/protocol").c_str());
  StoreProtocol(ctx_);
  EXPECT_EQ("unknown", Value(kProtocol_s));
  EXPECT_EQ(1, EntryOf(table_, kProtocol_s).fixed);
}

TEST(ParseLteState, FindsTheQuotedState) {
  char state[128];
  EXPECT_EQ(1, ParseLteState("{\"state\": \"connected\", \"x\": 1}", state, sizeof state));
  EXPECT_STREQ("connected", state);
  EXPECT_EQ(1, ParseLteState("{\"state\": \"\"}", state, sizeof state));
  EXPECT_STREQ("", state);
  EXPECT_EQ(0, ParseLteState("{\"state\": \"connec", state, sizeof state));
  EXPECT_EQ(0, ParseLteState("{\"state\":\"connected\"}", state, sizeof state));
  EXPECT_EQ(0, ParseLteState("", state, sizeof state));
}

}  // namespace
