// The modem watchdog against the simulated router: whole status passes feed what it judges, and
// only a modem silent on every way (AT, properties, QMI) is reset. In-process with an injected
// uptime for the spacing of the resets, and the real daemon for what a router would see.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/paths.h"
#include "config/network_options.h"
#include "config/uci_source.h"
#include "modem/channel.h"
#include "modem/collectors.h"
#include "modem/modem_pass.h"
#include "modem/modem_session.h"
#include "modem/modem_watchdog.h"
#include "status/status_table.h"
#include "tests/support/fake_board.h"
#include "tests/support/sim_router.h"
#include "tests/support/table_access.h"
#include "tests/support/client_links.h"

namespace {

constexpr const char* kRefusalMessage = "ModemManager refuses AT commands";
constexpr const char* kReset = "mmcli -m 0 -r";

int32_t sim_uptime = 0;
int32_t SimUptime() { return sim_uptime; }

// Scenarios of this root only: AT refused and, besides, QMI failing or the properties empty.
void AddPartlySilentScenarios(SimRouter& sim) {
  sim.MakeScenario("refused-properties-only", "at-refused");
  sim.WriteRouterFile("sim/scenarios/refused-properties-only/globs",
                      "qmicli *\tqmi-timeout\n");
  sim.WriteRouterFile("sim/scenarios/refused-properties-only/qmi-timeout.err",
                      sim.ReadRouterFile("sim/scenarios/modem-silent/qmi-timeout.err"));
  sim.MakeScenario("refused-qmi-only", "at-refused");
  sim.WriteRouterFile("sim/scenarios/refused-qmi-only/mmcli_-m_@_-K.out",
                      sim.ReadRouterFile("sim/scenarios/modem-silent/mmcli_-m_@_-K.out"));
}

class WatchdogCycleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("MODEM_STATUS_ROOT", sim_.root().c_str(), 1);
    ReloadPathRoot();
    ASSERT_TRUE(uci_.Open(sim_.Path("etc/config").c_str()));
    AddPartlySilentScenarios(sim_);
  }
  void TearDown() override {
    unsetenv("MODEM_STATUS_ROOT");
    ReloadPathRoot();
  }
  // A fresh daemon state: table, session, watchdog.
  void Fresh() {
    modem_ = ModemSession{};
    table_ = std::make_unique<StatusTable>();
    pass_ = std::make_unique<ModemPass>(
        ModemPass{*table_, modem_, board_, links_.mmcli, links_.qmicli});
    pass_->network = ReadNetworkOptions(uci_);
    watchdog_ = ModemWatchdog{ResetModem, SimUptime, false, false, false, 0};
    sim_.ClearCalls();
  }

  SimRouter sim_;
  RecordingBoard board_;
  UciSource uci_;
  ModemSession modem_;
  ClientLinks links_;
  std::unique_ptr<StatusTable> table_;
  std::unique_ptr<ModemPass> pass_;
  ModemWatchdog watchdog_{};
};

// One whole pass with the link up, then a render's watchdog step at each uptime: the modem
// answering on any one way is never reset; the silent one is, 180 s apart.
TEST_F(WatchdogCycleTest, OnlyTheModemSilentOnEveryWayIsReset) {
  struct Case {
    const char* scenario;
    bool properties;  // the ways the pass saw answer
    bool qmi;
    std::vector<int> resets;  // -r calls after the renders at 181, 186, 361, 541 s
  } cases[] = {
      {"default", true, true, {0, 0, 0, 0}},
      {"at-refused", true, true, {0, 0, 0, 0}},
      {"refused-properties-only", true, false, {0, 0, 0, 0}},
      {"refused-qmi-only", false, true, {0, 0, 0, 0}},
      {"modem-silent", false, false, {1, 1, 2, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scenario);
    Fresh();
    sim_.SetScenario(c.scenario);
    sim_uptime = 181;
    RunModemWatchdog(&watchdog_, *pass_);  // rendered before the first pass: nothing to judge
    EXPECT_EQ(0, sim_.CountCalls(kReset));
    GetModemStatus(*pass_, 0);
    EXPECT_EQ(c.properties, modem_.lifeSigns.Answered(ModemWay::kProperties));
    EXPECT_EQ(c.qmi, modem_.lifeSigns.Answered(ModemWay::kQmi));
    EXPECT_TRUE(modem_.lifeSigns.Asked());
    std::vector<int> resets;
    for (int32_t uptime : {181, 186, 361, 541}) {
      sim_uptime = uptime;
      RunModemWatchdog(&watchdog_, *pass_);
      resets.push_back(sim_.CountCalls(kReset));
    }
    EXPECT_EQ(c.resets, resets);
    EXPECT_TRUE(sim_.UnknownCalls().empty());
  }
}

// The real daemon (mmcli way) with a poll of 1 s; the watchdog reads the machine's uptime.
class WatchdogDaemonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (GetUptime() < 200) GTEST_SKIP() << "the machine has been up less than 200 s";
    sim_.WriteRouterFile("etc/config/zel",
                         "\nconfig status_gather 'status_gather'\n\toption poll '1'\n"
                         "\nconfig api 'api'\n\toption status 'enabled'\n");
  }
  void Start(const std::string& scenario) {
    sim_.SetScenario(scenario);
    daemon_ = std::make_unique<DaemonProcess>(sim_, std::vector<std::string>{"-j", Snapshot()});
  }
  std::string Snapshot() const { return sim_.Path("tmp/corvane/modemstatus.json"); }
  ino_t SnapshotInode() const {
    struct stat info {};
    return stat(Snapshot().c_str(), &info) == 0 ? info.st_ino : 0;
  }
  // Waits for `passes` whole passes, then for two snapshot renders after them: the watchdog step
  // of the first has then ended (the writer runs it before its next render).
  void WaitPassesAndTwoRenders(int passes) {
    ASSERT_TRUE(daemon_->WaitForOutputCount("Calling sleep for ", passes, 30000))
        << daemon_->Output();
    for (int render = 0; render < 2; ++render) {
      const ino_t before = SnapshotInode();
      for (int i = 0; i < 300 && SnapshotInode() == before; ++i) usleep(50 * 1000);
      ASSERT_NE(before, SnapshotInode()) << daemon_->Output();
    }
  }

  SimRouter sim_;
  std::unique_ptr<DaemonProcess> daemon_;
};

// ModemManager refusing AT commands: the modem answers its properties and QMI, so it is never
// reset; the refusal is said once, not once per command or pass.
TEST_F(WatchdogDaemonTest, ModemWithAtRefusedIsNeverReset) {
  Start("at-refused");
  WaitPassesAndTwoRenders(3);
  EXPECT_EQ(0, sim_.CountCalls(kReset));
  EXPECT_EQ(1, daemon_->CountOutput(kRefusalMessage)) << daemon_->Output();
  EXPECT_EQ(0, daemon_->Stop()) << daemon_->Output();
}

// A daemon restarted long after boot (procd does on every configuration change) renders about a
// second after start; a first pass slower than that has not asked the modem yet, and the healthy
// modem is not reset for it.
TEST_F(WatchdogDaemonTest, HealthyModemIsNotResetBeforeTheFirstPassHasAsked) {
  sim_.MakeScenario("slow-start");  // the first requests of a pass answer after 1.5 s each
  sim_.WriteRouterFile("sim/scenarios/slow-start/delays", "qmicli *\t1.5\n");
  Start("slow-start");
  WaitPassesAndTwoRenders(1);
  EXPECT_EQ(0, sim_.CountCalls(kReset));
  EXPECT_EQ(0, daemon_->Stop()) << daemon_->Output();
}

// A listed modem silent on every way is reset once, not again within 180 s.
TEST_F(WatchdogDaemonTest, ModemSilentOnEveryWayIsReset) {
  Start("modem-silent");
  ASSERT_TRUE(sim_.WaitForCalls(kReset, 1, 30000)) << daemon_->Output();
  WaitPassesAndTwoRenders(daemon_->CountOutput("Calling sleep for ") + 1);
  EXPECT_EQ(1, sim_.CountCalls(kReset));
  EXPECT_EQ(0, daemon_->CountOutput(kRefusalMessage));
  EXPECT_EQ(0, daemon_->Stop()) << daemon_->Output();
  EXPECT_TRUE(sim_.UnknownCalls().empty());
}

}  // namespace
