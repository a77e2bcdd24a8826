// The modem watchdog's states with a counting reset and a chosen uptime, and what counts as the
// modem's answer: the AT key values, its properties, a QMI reply.
#include "modem/modem_watchdog.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "modem/modem_pass.h"
#include "modem/modem_session.h"
#include "status/status_table.h"
#include "tests/support/fake_board.h"
#include "tests/support/table_access.h"
#include "tests/support/client_links.h"

namespace {

int resets = 0;
int32_t uptime = 0;
MmAnswer CountingReset(ModemPass&) {
  ++resets;
  return MmAnswer::kAnswered;
}
int32_t FakeUptime() { return uptime; }

class ModemWatchdogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    uptime = 0;
    Restart();
  }
  // A fresh table and a fresh watchdog, as at the daemon's start; the uptime stays.
  void Restart() {
    for (uint32_t i = 0; i < kStatusCount; ++i) table_.Update(i, "");  // no value anywhere
    modem_ = ModemSession{};
    modem_.modemIndex = 0;
    modem_.lifeSigns.NoteAsked();  // a whole pass has asked the modem
    watchdog_ = ModemWatchdog{CountingReset, FakeUptime, false, false, false, 0};
    resets = 0;
  }
  void Set(uint32_t index, const char* text) { table_.Update(index, text, 0); }
  void Watch() { RunModemWatchdog(&watchdog_, ctx_); }

  ModemSession modem_;
  StatusTable table_;
  RecordingBoard board_;
  ClientLinks links_;
  ModemPass ctx_{table_, modem_, board_, links_.mmcli, links_.qmicli};
  ModemWatchdog watchdog_{};
};

// The watchdog acts only after 180 s of uptime, and only the values that need a modem answer
// stop it for good (the states with the real reset answers are tested against the simulator).
TEST_F(ModemWatchdogTest, WaitsForUptimeAndCountsOnlyModemValues) {
  uptime = 180;
  Watch();
  EXPECT_EQ(resets, 0);
  uptime = 181;
  Watch();
  EXPECT_EQ(resets, 1);
  const uint32_t answers[] = {kModemSwVersion_s, kIMSI_s, kMCBV_s, kMCLBV_s,
                              kUeRssi_i,         kScMcc_i, kScRssi_i};
  for (uint32_t key : answers) {
    Restart();
    Set(key, "1");
    Watch();
    Set(key, "");  // the value goes away again
    Watch();
    EXPECT_TRUE(watchdog_.answered) << EntryOf(table_, key).name;
    EXPECT_EQ(resets, 0) << EntryOf(table_, key).name;
  }
  Restart();
  Set(kIMEI_s, "1");
  Watch();
  EXPECT_FALSE(watchdog_.answered);
  EXPECT_EQ(resets, 1);
}

// A modem that answered on any one way is alive; only one asked on every way and silent on all is
// reset. Before a pass has asked it, there is nothing to judge.
TEST_F(ModemWatchdogTest, OnlyAModemSilentOnEveryWayIsReset) {
  struct Case {
    const char* name;
    bool atKey;       // an AT key value in the table
    bool properties;  // IMEI, firmware or signal from ModemManager's properties
    bool qmi;         // a QMI reply
    bool asked;       // a pass asked the listed modem on every way
    ModemVerdict verdict;
    int resets;  // after renders at uptime 181, 186, 361 and 541
  } cases[] = {
      {"AT key values only", true, false, false, true, ModemVerdict::kAnswered, 0},
      {"properties only (AT refused)", false, true, false, true, ModemVerdict::kAnswered, 0},
      {"QMI only", false, false, true, true, ModemVerdict::kAnswered, 0},
      {"every way", true, true, true, true, ModemVerdict::kAnswered, 0},
      {"nothing", false, false, false, true, ModemVerdict::kSilent, 3},
      {"nothing, not asked yet", false, false, false, false, ModemVerdict::kNotAskedYet, 0},
      {"properties before the first whole pass", false, true, false, false,
       ModemVerdict::kAnswered, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Restart();
    modem_.lifeSigns = ModemLifeSigns{};
    if (c.atKey) Set(kScRssi_i, "-65");
    if (c.properties) modem_.lifeSigns.NoteAnswer(ModemWay::kProperties);
    if (c.qmi) modem_.lifeSigns.NoteAnswer(ModemWay::kQmi);
    if (c.asked) modem_.lifeSigns.NoteAsked();
    EXPECT_EQ(c.verdict, JudgeModem(table_, modem_.lifeSigns));
    for (int32_t at : {181, 186, 361, 541}) {
      uptime = at;
      Watch();
    }
    EXPECT_EQ(c.resets, resets);
    EXPECT_EQ(c.verdict == ModemVerdict::kAnswered, watchdog_.answered);
  }
}

// A daemon started long after boot renders before its first pass has asked the modem: the
// watchdog waits for that pass, then judges.
TEST_F(ModemWatchdogTest, WaitsForAWholePassBeforeJudging) {
  modem_.lifeSigns = ModemLifeSigns{};
  uptime = 5000;
  Watch();
  Watch();
  EXPECT_EQ(resets, 0);
  modem_.lifeSigns.NoteAsked();
  Watch();
  EXPECT_EQ(resets, 1);
  // A sign of life after the reset stops the watchdog for good.
  modem_.lifeSigns.NoteAnswer(ModemWay::kQmi);
  uptime = 6000;
  Watch();
  EXPECT_EQ(resets, 1);
  EXPECT_TRUE(watchdog_.answered);
}

TEST(AnsweredAtCommandTest, AnyOfTheAnswerEntriesCounts) {
  for (StatusIndex index :
       {kModemSwVersion_s, kIMSI_s, kMCBV_s, kMCLBV_s, kUeRssi_i, kScMcc_i, kScRssi_i}) {
    StatusTable table;
    EXPECT_FALSE(AnsweredAtCommand(table));
    table.Update(index, "1");
    EXPECT_TRUE(AnsweredAtCommand(table)) << index;
  }
  StatusTable table;
  table.Update(kIMEI_s, "359");
  EXPECT_FALSE(AnsweredAtCommand(table));
}

}  // namespace
