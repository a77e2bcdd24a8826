#include "modem/channel.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/log.h"
#include "base/paths.h"
#include "modem/modem_pass.h"
#include "modem/modem_session.h"
#include "modem/qmicli_link.h"
#include "tests/support/fake_board.h"
#include "tests/support/table_access.h"
#include "tests/support/test_files.h"
#include "tests/support/client_links.h"

namespace {

std::string Sample(const std::string& name) {
  std::string text = ReadFile(std::string(PLATFORM_SAMPLE_DIR) + "/" + name);
  EXPECT_FALSE(text.empty()) << name;
  return text;
}

// A router root whose mmcli and qmicli print a prepared answer and log their arguments.
class ChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("MODEM_STATUS_ROOT", root_.path().c_str(), 1);
    ReloadPathRoot();
    modem_.modemIndex = 0;
    modem_.cmdTotalMs = 2000;
    snprintf(modem_.qmiDevice, sizeof modem_.qmiDevice, "/dev/cdc-wdm0");
    Answer("mmcli", "");
    Answer("qmicli", "");
  }
  void TearDown() override {
    unsetenv("MODEM_STATUS_ROOT");
    ReloadPathRoot();
  }

  // The client prints `text` on standard output, or on standard error with status 1.
  void Answer(const std::string& client, const std::string& text, bool as_error = false) {
    WriteFile(root_ / ("answer/" + client), text);
    std::string script = "#!/bin/sh\necho \"" + client + " $*\" >> '" + (root_ / "calls.log") +
                         "'\n/bin/cat '" + (root_ / ("answer/" + client)) + "'" +
                         (as_error ? " >&2\nexit 1\n" : "\n");
    std::string path = root_ / ("usr/bin/" + client);
    WriteFile(path, script);
    chmod(path.c_str(), 0755);
  }
  std::string Calls() { return ReadFile(root_ / "calls.log"); }

  TempDir root_;
  ModemSession modem_;
  StatusTable table_;
  RecordingBoard board_;
  ClientLinks links_;
  ModemPass ctx_{table_, modem_, board_, links_.mmcli, links_.qmicli};
};

TEST_F(ChannelTest, FindModemReadsTheListing) {
  struct Case {
    const char* name;
    std::string output;
    bool as_error;
    int result;
    int32_t index;
  };
  const Case cases[] = {
      {"one modem", Sample("mmcli-L_one-modem.stdout"), false, 1, 0},
      {"no modems", Sample("mmcli-L_no-modems.stdout"), false, 0, -1},
      {"no ModemManager", Sample("mmcli_no-ModemManager-running.stderr"), true, 0, -1},
      {"later index", "    /org/freedesktop/ModemManager1/Modem/12 [Quectel] EM12-G\n", false, 1,
       12},
      {"ten characters", "    /org/1", false, 0, -1},
      {"not a number", "    /org/freedesktop/ModemManager1/Modem/x1 [Quectel] EM12-G\n", false, 0,
       -1},
      {"negative", "    /org/freedesktop/ModemManager1/Modem/-3 [Quectel] EM12-G\n", false, 0, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Answer("mmcli", c.output, c.as_error);
    modem_.modemIndex = 5;
    EXPECT_EQ(c.result, FindModem(ctx_));
    EXPECT_EQ(c.index, modem_.modemIndex);
  }
  EXPECT_NE(std::string::npos, Calls().find("mmcli -L\n"));
}

// A new index is reported once; a missing client finds no modem.
TEST_F(ChannelTest, FindModemReportsANewIndexOnce) {
  Answer("mmcli", Sample("mmcli-L_one-modem.stdout"));
  modem_.modemIndex = -1;
  for (const char* report : {"mmcli_GetIdx found modem 0 index: 0\n", ""}) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(1, FindModem(ctx_));
    EXPECT_EQ(report, testing::internal::GetCapturedStdout());
    EXPECT_EQ(0, modem_.modemIndex);
  }
  unlink((root_ / "usr/bin/mmcli").c_str());
  modem_.modemIndex = 5;
  EXPECT_EQ(0, FindModem(ctx_));
  EXPECT_EQ(-1, modem_.modemIndex);
}

// The client's reply line becomes the modem's answer: the quotes and the line ends after the
// closing one go, the answer's own line ends stay.
TEST_F(ChannelTest, SendTurnsTheResponseLineIntoTheAnswer) {
  struct Case {
    const char* name;
    std::string output;
    MmAnswer outcome;
    std::string text;
  };
  const std::string multiline = Sample("mmcli-m0-command_multiline_QENG-neighbourcell.stdout");
  const Case cases[] = {
      {"response line", Sample("mmcli-m0-command_AT-CSQ.stdout"), MmAnswer::kAnswered,
       "+CSQ: 23,99"},
      {"multi-line answer keeps inner CRLF", multiline, MmAnswer::kAnswered,
       multiline.substr(11, multiline.size() - 13)},
      {"empty answer", Sample("mmcli-m0-command_empty-response.stdout"), MmAnswer::kAnswered, ""},
      {"CR and LF after the quote", "response: 'OK'\r\n", MmAnswer::kAnswered, "OK"},
      {"tabs and line breaks", "response: 'OK'\t\n\r\n", MmAnswer::kAnswered, "OK"},
      {"only one quote removed", "response: '''\n", MmAnswer::kAnswered, "'"},
      {"quote before a blank stays", "response: 'OK' \n", MmAnswer::kAnswered, "OK' "},
      {"no closing quote", "response: 'abc\n", MmAnswer::kAnswered, "abc"},
      {"eleven characters", "response: x\n", MmAnswer::kAnswered, "x"},
      {"ten characters", "response: \n", MmAnswer::kNone, ""},
      {"ten characters after the quote", "response: '\n", MmAnswer::kNone, ""},
      {"one character", "x", MmAnswer::kNone, ""},
      {"one character after line breaks", "x\r\n\r\n", MmAnswer::kNone, ""},
      {"nothing", "", MmAnswer::kNone, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Answer("mmcli", c.output);
    AtReply reply{};
    EXPECT_EQ(c.outcome, SendAtCommand(ctx_, "AT+CSQ", &reply));
    EXPECT_EQ(c.text, std::string(reply.text, static_cast<size_t>(reply.length)));
  }
}

// ModemManager's error lines are refusals: none of their text reaches a parser.
TEST_F(ChannelTest, SendTakesTheClientErrorAsRefusal) {
  for (const char* sample : {"mmcli-m5-command_unknown-modem.stderr",
                             "mmcli-command_modem-replied-ERROR.stderr"}) {
    Answer("mmcli", Sample(sample), true);
    AtReply reply{};
    EXPECT_EQ(MmAnswer::kRefused, SendAtCommand(ctx_, "AT+CSQ", &reply)) << sample;
    EXPECT_EQ(0, reply.length) << sample;
    EXPECT_STREQ("", reply.text) << sample;
    EXPECT_FALSE(reply.forbidden) << sample;
  }
}

// ModemManager refusing AT commands outside its debug mode is said once per run, on standard
// error (and syslog), naming the fix; other failures and answers say nothing.
TEST_F(ChannelTest, RefusalOfAtCommandsIsReportedOncePerRun) {
  const std::string kMessage =
      "ModemManager refuses AT commands, so every value read with them stays empty: run "
      "ModemManager at debug log level (--debug) or build it with AT commands over D-Bus "
      "(at_command_via_dbus)\n";
  struct Case {
    const char* sample;
    bool as_error;
    int reported;  // times the message appears after three commands
  } cases[] = {
      {"mmcli-command_MM-not-in-debug-mode.stderr", true, 1},
      {"mmcli-command_serial-timeout.stderr", true, 0},
      {"mmcli-command_modem-replied-ERROR.stderr", true, 0},
      {"mmcli-m0-command_AT-CSQ.stdout", false, 0},
  };
  for (const Case& c : cases) {
    modem_.atRefusalReported = 0;
    ResetLogRepeat();
    Answer("mmcli", Sample(c.sample), c.as_error);
    testing::internal::CaptureStderr();
    for (const char* command : {"AT+CSQ", "AT+CPIN?", "AT+CSQ"}) {
      AtReply reply{};
      SendAtCommand(ctx_, command, &reply);
    }
    const std::string err = testing::internal::GetCapturedStderr();
    int count = 0;
    for (size_t at = err.find(kMessage); at != std::string::npos; at = err.find(kMessage, at + 1)) {
      ++count;
    }
    EXPECT_EQ(c.reported, count) << c.sample << "\n" << err;
  }
}

TEST_F(ChannelTest, SendFormsTheClientArguments) {
  Answer("mmcli", Sample("mmcli-m0-command_AT-CSQ.stdout"));
  AtReply reply{};
  testing::internal::CaptureStdout();
  SendAtCommand(ctx_, "AT+CSQ", &reply);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ("Sending command: " + (root_ / "usr/bin/mmcli") +
                " -m 0 --command=AT+CSQ\nGot Result Len: 22, response: '+CSQ: 23,99\n",
            out);

  modem_.modemIndex = 999;
  SendAtCommand(ctx_, "AT+QENG=\"servingcell\"", &reply);
  EXPECT_EQ(
      "mmcli -m 0 --command=AT+CSQ\n"
      "mmcli -m 999 --command=AT+QENG=\"servingcell\"\n",
      Calls());
}

TEST_F(ChannelTest, LargeIndexRunsNoClient) {
  AtReply reply{};
  memset(reply.text, '#', sizeof reply.text);
  testing::internal::CaptureStderr();
  modem_.modemIndex = 1000;
  EXPECT_EQ(MmAnswer::kNone, SendAtCommand(ctx_, "AT+CSQ", &reply));
  EXPECT_EQ(MmAnswer::kNone, ResetModem(ctx_));
  EXPECT_EQ(
      "modem_Send error: Modem index too large! - 1000\n"
      "modem_Send error: Modem index too large! - 1000\n",
      testing::internal::GetCapturedStderr());
  EXPECT_EQ('#', reply.text[0]);
  EXPECT_EQ("", Calls());
}

TEST_F(ChannelTest, ResetTakesOnlyAnAnswerThatIsNoError) {
  Answer("mmcli", Sample("mmcli-m0-r.stdout"));
  EXPECT_EQ(MmAnswer::kAnswered, ResetModem(ctx_));
  // ModemManager's refusal is long, but no reset happened.
  Answer("mmcli", Sample("mmcli-m0-r_failure-example.stderr"), true);
  EXPECT_EQ(MmAnswer::kRefused, ResetModem(ctx_));
  Answer("mmcli", "response: \n");
  EXPECT_EQ(MmAnswer::kNone, ResetModem(ctx_));
  EXPECT_EQ("mmcli -m 0 -r\nmmcli -m 0 -r\nmmcli -m 0 -r\n", Calls());
}

TEST_F(ChannelTest, QmicliLinkRunsTheClientOnTheDevice) {
  QmicliLink qmi(nullptr);
  const std::string sample = Sample("qmicli_nas-get-signal-info-lte.stdout");
  Answer("qmicli", sample);
  testing::internal::CaptureStdout();
  EXPECT_EQ(QmiAnswer::kAnswered, qmi.PowerOnSim("/dev/cdc-wdm0", 2000));
  EXPECT_EQ("QmiCmd: --uim-sim-power-on=1\n", testing::internal::GetCapturedStdout());
  EXPECT_EQ(sample, std::string(qmi.output()));
  EXPECT_EQ("qmicli -d /dev/cdc-wdm0 -p --uim-sim-power-on=1\n", Calls());

  // A long answer is cut to 1022 characters.
  Answer("qmicli", std::string(3000, 'q'));
  EXPECT_EQ(QmiAnswer::kAnswered, qmi.EnableAutoconnect("/dev/cdc-wdm0", 2000));
  EXPECT_EQ(std::string(1022, 'q'), std::string(qmi.output()));

  // The client's own error report is a refusal and fills no record; no output is no answer.
  Answer("qmicli", "error: couldn't get signal info: QMI protocol error (15): 'OutOfCall'\n");
  SignalInfo signal{};
  signal.snr[0] = '#';
  EXPECT_EQ(QmiAnswer::kRefused, qmi.ReadSignalInfo("/dev/cdc-wdm0", 2000, &signal));
  EXPECT_EQ('#', signal.snr[0]);
  Answer("qmicli", "");
  TxRxInfo txRx{};
  EXPECT_EQ(QmiAnswer::kNone, qmi.ReadTxRxInfo("/dev/cdc-wdm0", 2000, &txRx));
  EXPECT_FALSE(txRx.valid);
}

}  // namespace
