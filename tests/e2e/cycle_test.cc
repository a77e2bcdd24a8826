// The polling daemon against the simulated router: what a pass stores and sends, the waits, the
// link signals and the stop. Most tests run the real binary; the link-down pass, which the real
// binary only reaches in a narrow signal race, runs the loop in this process.
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "base/paths.h"
#include "base/signals.h"
#include "config/daemon_config.h"
#include "config/uci_source.h"
#include "daemon/daemon_options.h"
#include "daemon/main_loop.h"
#include "modem/collectors.h"
#include "modem/modem_pass.h"
#include "modem/modem_session.h"
#include "modem/sim_identity.h"
#include "status/status_table.h"
#include "tests/support/fake_board.h"
#include "tests/support/sim_router.h"
#include "tests/support/table_access.h"
#include "tests/support/test_files.h"
#include "tests/support/client_links.h"

namespace {

using Clock = std::chrono::steady_clock;

long MillisSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// The seconds of every "Calling sleep for N seconds" line, in order.
std::vector<int> WaitLines(const std::string& output) {
  std::vector<int> waits;
  const std::string marker = "Calling sleep for ";
  for (size_t pos = output.find(marker); pos != std::string::npos;
       pos = output.find(marker, pos + 1)) {
    waits.push_back(atoi(output.c_str() + pos + marker.size()));
  }
  return waits;
}

std::string ZelConfig(int poll) {
  return "\nconfig status_gather 'status_gather'\n\toption poll '" + std::to_string(poll) +
         "'\n\toption period '600'\n\nconfig api 'api'\n\toption status '1'\n";
}

// Commands a pass sends only when the link is up (the radio measurements).
const char* const kRadioCommands[] = {
    "--command=AT+QENG=\"servingcell\"",
    "--command=AT+CSQ",
    "--command=AT+QGID",
    "--command=AT+QGDCNT?",
    "--nas-get-tx-rx-info=lte",
    "--nas-get-lte-cphy-ca-info",
    "--nas-get-signal-info",
    "home-network.sh",
};
// Commands every pass that finds a modem sends (the first time, for the once-only ones).
const char* const kCommonCommands[] = {
    "mmcli -L",
    "mmcli -m 0 -K",
    "mmcli -b 2 -K",
    "--command=AT+CPIN?",
    "--command=AT+QCCID",
    "--command=AT+CIMI",
    "--command=AT+CGMR",
    "--command=AT+QCFG=\"band\"",
    "--command=AT+QTEMP",
    "--uim-sim-power-on=1",
    "--wds-set-autoconnect-settings=enabled",
};

class CycleE2E : public ::testing::Test {
 protected:
  SimRouter sim_;
};

// Three short passes: what the first stores and sends, what later passes repeat and the waits.
TEST_F(CycleE2E, PassesStoreSendAndRepeatWhatTheyShould) {
  sim_.WriteRouterFile("etc/config/zel", ZelConfig(-5));
  DaemonProcess daemon(sim_, {"-c"});
  ASSERT_TRUE(daemon.WaitForOutputCount("Calling sleep for ", 3, 20000)) << daemon.Output();
  EXPECT_EQ(0, daemon.Stop(3000));
  const std::string out = daemon.Output();
  const char* const stored[] = {
      "Variable Value:  SignalPercent_s '64%'",
      "Fixed Value:  IMEI_s '866758041234564'",
      "Fixed Value:  PhoneNumber_s '555.123.0147'",
      "Fixed Value:  Apn_s 'fast.t-mobile.com'",
      "Fixed Value:  ICCID_s '8901260412345678901'",
      "Fixed Value:  IMSI_s '310260123456789'",
      "Fixed Value:  ModemSwVersion_s 'EM12GPAR01A21M4G'",
      "Fixed Value:  Protocol_s 'LTE'",
      "Variable Value:  Connection_s 'connected'",
      "Fixed Value:  LanIpAddr_s '192.168.8.1'",
      "Variable Value:  WWanRxBytes_i '611204883'",
      "Variable Value:  WWanRxPkts_i '498231'",
      "Variable Value:  WWanTxBytes_i '233905116'",
      "Variable Value:  WWanTxPkts_i '301877'",
      "Variable Value:  StatusTime_i '",
  };
  for (const char* line : stored) EXPECT_NE(std::string::npos, out.find(line)) << line;
  for (const char* command : kRadioCommands) EXPECT_LE(1, sim_.CountCalls(command)) << command;
  EXPECT_TRUE(sim_.UnknownCalls().empty());
  for (int wait : WaitLines(out)) EXPECT_EQ(1, wait);  // a short poll still waits one second

  const int passes = daemon.CountOutput("LTE Connection Status is OK");
  ASSERT_GE(passes, 3);
  // Looked up on every pass; mmcli hands "+CPIN: READY" over with nothing after it, which does
  // not count as ready, so the SIM state is asked on every pass too.
  for (const char* each : {"mmcli -L", "mmcli -m 0 -K", "--command=AT+CPIN?"}) {
    EXPECT_EQ(passes, sim_.CountCalls(each)) << each;
  }
  for (const char* command : kCommonCommands) EXPECT_LE(1, sim_.CountCalls(command)) << command;
  for (const char* once : {"--command=AT+QCCID", "--command=AT+CIMI", "--command=AT+CGMR",
                           "--uim-sim-power-on=1", "--wds-set-autoconnect-settings=enabled"}) {
    EXPECT_EQ(1, sim_.CountCalls(once)) << once;
  }
  EXPECT_EQ(1, daemon.CountOutput("LAN IP Address: 192.168.8.1"));  // logged when it changes
}

// One run through the link notices: the link-up wait, two disconnects in a row, a third while
// paused, the resume, the expiry of kind-0 values in the snapshot, and a prompt SIGINT.
TEST_F(CycleE2E, LinkNoticesPauseResumeAndExpireLinkValues) {
  sim_.WriteRouterFile("etc/config/zel", ZelConfig(30));
  const std::string snapshot = sim_.Path("tmp/corvane/modemstatus.json");
  DaemonProcess daemon(sim_, {"-j", snapshot});
  ASSERT_TRUE(daemon.WaitForOutput("Calling sleep for ", 15000)) << daemon.Output();
  const std::vector<int> first = WaitLines(daemon.Output());
  ASSERT_EQ(1u, first.size());
  EXPECT_GE(first[0], 27);  // the cycle's own time is taken off the 30 seconds
  EXPECT_LE(first[0], 30);
  // Waits until the snapshot entry `name` is (or is not) expired.
  auto expired_becomes = [&](const std::string& name, bool expired) {
    for (int i = 0; i < 80; ++i) {
      const std::string json = ReadFile(snapshot);
      const size_t pos = json.find("{\"name\":\"" + name + "\"");
      if (pos != std::string::npos) {
        const std::string e = json.substr(pos, json.find('}', pos) - pos);
        if ((e.find("\"lastUpdate\":\"-1\"") != std::string::npos) == expired) return true;
      }
      usleep(100 * 1000);
    }
    return false;
  };
  ASSERT_TRUE(expired_becomes("WWanRxBytes_i", false)) << ReadFile(snapshot);
  sim_.ClearCalls();

  daemon.Signal(SIGUSR2);
  daemon.Signal(SIGUSR2);
  ASSERT_TRUE(daemon.WaitForOutput("Calling sleep for 15 seconds", 3000)) << daemon.Output();
  usleep(300 * 1000);
  EXPECT_EQ(1, daemon.CountOutput("Disconnected signal"));
  // Both notices usually land in the same wait and pause once; when the daemon gets to run
  // between them, the second ends the first pause wait and pauses again.
  const int pauses = daemon.CountOutput("Calling sleep for 15 seconds");
  EXPECT_TRUE(pauses == 1 || pauses == 2) << daemon.Output();
  EXPECT_EQ(static_cast<size_t>(1 + pauses), WaitLines(daemon.Output()).size());
  EXPECT_TRUE(sim_.Calls().empty());  // a paused pass only checks the link
  EXPECT_TRUE(expired_becomes("WWanRxBytes_i", true)) << ReadFile(snapshot);
  EXPECT_TRUE(expired_becomes("IMEI_s", false)) << ReadFile(snapshot);       // kind 1 stays
  EXPECT_TRUE(expired_becomes("LanIpAddr_s", false)) << ReadFile(snapshot);  // kind 2 stays

  // A further notice while paused ends the pause wait and pauses again.
  daemon.Signal(SIGUSR2);
  ASSERT_TRUE(daemon.WaitForOutputCount("Calling sleep for 15 seconds", pauses + 1, 3000))
      << daemon.Output();
  EXPECT_EQ(1, daemon.CountOutput("LTE Connection Status is OK"));

  daemon.Signal(SIGUSR1);
  ASSERT_TRUE(daemon.WaitForOutputCount("Calling sleep for ", pauses + 3, 8000)) << daemon.Output();
  EXPECT_EQ(1, daemon.CountOutput("Connected signal"));
  EXPECT_EQ(2, daemon.CountOutput("LTE Connection Status is OK"));
  // The QMI setup requests go out again on the first pass after the pause.
  EXPECT_EQ(1, sim_.CountCalls("--uim-sim-power-on=1"));
  EXPECT_EQ(1, sim_.CountCalls("--wds-set-autoconnect-settings=enabled"));
  EXPECT_TRUE(expired_becomes("WWanRxBytes_i", false)) << ReadFile(snapshot);
  // Both threads are joined; each notices the stop within its one-second slice.
  const auto start = Clock::now();
  EXPECT_EQ(0, daemon.Stop(8000));
  EXPECT_LT(MillisSince(start), 1800);
}

TEST_F(CycleE2E, DisconnectDuringCycleEndsTheNextWaitAfterOneSecond) {
  sim_.WriteRouterFile("etc/config/zel", ZelConfig(30));
  sim_.SetScenario("slow");  // every AT command takes 300 ms
  DaemonProcess daemon(sim_, {});
  ASSERT_TRUE(sim_.WaitForCalls("--command=AT+CPIN?", 1, 15000));
  daemon.Signal(SIGUSR2);
  ASSERT_TRUE(daemon.WaitForOutput("Calling sleep for ", 20000)) << daemon.Output();
  const auto first_wait = Clock::now();
  EXPECT_EQ(1, sim_.CountCalls("home-network.sh"));  // the cycle ran to its end
  ASSERT_TRUE(daemon.WaitForOutput("Calling sleep for 15 seconds", 4000)) << daemon.Output();
  EXPECT_LT(MillisSince(first_wait), 2500);
  const std::vector<int> waits = WaitLines(daemon.Output());
  ASSERT_EQ(2u, waits.size());
  EXPECT_GT(waits[0], 15);
  EXPECT_EQ(0, daemon.Stop(3000));
}

TEST_F(CycleE2E, SigintDuringASlowClientCallExitsPromptly) {
  sim_.SetScenario("hang");  // every modem command hangs until its time limit
  DaemonProcess daemon(sim_, {});
  ASSERT_TRUE(sim_.WaitForCalls("mmcli -m 0 -K", 1, 15000));
  usleep(200 * 1000);
  const auto start = Clock::now();
  EXPECT_EQ(0, daemon.Stop(3000));
  EXPECT_LT(MillisSince(start), 1500);
  EXPECT_EQ(0, sim_.CountCalls("--command="));  // no command followed the properties query
  EXPECT_EQ(2, sim_.CountCalls("qmicli"));      // the two setup requests came first
  EXPECT_EQ(std::string::npos, daemon.Output().find("Calling sleep for "));
}

// The loop in this process, so the link can be down with polling active (the real binary gets
// there only when a disconnect notice lands between a wait's last check and the loop head).
class LinkDownLoop : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("MODEM_STATUS_ROOT", sim_.root().c_str(), 1);
    ReloadPathRoot();
    config_.poll = 30;
    config_.period = 600;
    modem_.modemIndex = -1;
    ASSERT_TRUE(uci_.Open(sim_.Path("etc/config").c_str()));
    stopRequested = 0;
    connectPending = 0;
    disconnectPending = 0;
    signal_disconnect = 0;
  }
  void TearDown() override {
    stopRequested = 0;
    signal_disconnect = 0;
    unsetenv("MODEM_STATUS_ROOT");
    ReloadPathRoot();
  }
  SimRouter sim_;
  DaemonConfig config_{};
  ModemSession modem_;
  StatusTable table_;
  RecordingBoard board_;
  ClientLinks links_;
  ModemPass pass_{table_, modem_, board_, links_.mmcli, links_.qmicli};
  DaemonOptions options_;
  UciSource uci_;
};

TEST_F(LinkDownLoop, LinkDownCycleIsReducedAndWaitsFiveSeconds) {
  modem_.lteUp = 1;
  signal_disconnect = 1;  // a disconnect consumed at the loop head, polling still active
  table_.Update(kUeRssi_i, "-70", 0);

  TempDir out_dir;
  const std::string out_path = out_dir / "stdout";
  fflush(stdout);
  const int saved = dup(1);
  FILE* capture = freopen(out_path.c_str(), "w", stdout);
  ASSERT_NE(nullptr, capture);
  std::thread loop(
      [&] { RunMainLoop(LoopParts{options_, config_, table_, pass_, uci_, nullptr}); });
  bool waited = false;
  for (int i = 0; i < 150 && !waited; ++i) {
    usleep(100 * 1000);
    waited = ReadFile(out_path).find("Calling sleep for ") != std::string::npos;
  }
  const auto start = Clock::now();
  stopRequested = 1;
  loop.join();
  const long stop_ms = MillisSince(start);
  fflush(stdout);
  dup2(saved, 1);
  close(saved);
  const std::string out = ReadFile(out_path);

  ASSERT_TRUE(waited) << out;
  EXPECT_LT(stop_ms, 1500);
  EXPECT_NE(std::string::npos, out.find("LTE Connection Status is Down\n"));
  EXPECT_NE(std::string::npos, out.find("Calling sleep for 5 seconds\n"));
  EXPECT_EQ(-1, EntryOf(table_, kUeRssi_i).lastUpdate);  // expired on the way down
  // The reduced pass sends no radio command.
  for (const char* command : kCommonCommands) EXPECT_EQ(1, sim_.CountCalls(command)) << command;
  for (const char* command : kRadioCommands) EXPECT_EQ(0, sim_.CountCalls(command)) << command;
}

}  // namespace
