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
#include "tests/support/table_access.h"
#include "tests/support/test_files.h"

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
    modem_.cmdIdleMs = 100;
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
  ModemPass ctx_{table_, modem_};
};

TEST_F(ChannelTest, GetIdxReadsTheListing) {
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
    EXPECT_EQ(c.result, mmcli_GetIdx(ctx_, 0));
    EXPECT_EQ(c.index, modem_.modemIndex);
  }
  EXPECT_NE(std::string::npos, Calls().find("mmcli -L\n"));
}

// A new index is reported once; "only when missing" skips the client while an index is known; a
// missing client finds no modem.
TEST_F(ChannelTest, GetIdxReportingAndSkipping) {
  Answer("mmcli", Sample("mmcli-L_one-modem.stdout"));
  modem_.modemIndex = -1;
  for (const char* report : {"mmcli_GetIdx found modem 0 index: 0\n", ""}) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(1, mmcli_GetIdx(ctx_, 0));
    EXPECT_EQ(report, testing::internal::GetCapturedStdout());
    EXPECT_EQ(0, modem_.modemIndex);
  }
  Answer("mmcli", Sample("mmcli-L_no-modems.stdout"));
  unlink((root_ / "calls.log").c_str());
  modem_.modemIndex = 3;
  EXPECT_EQ(2, mmcli_GetIdx(ctx_, 2));
  EXPECT_EQ(3, modem_.modemIndex);
  EXPECT_EQ("", Calls());
  modem_.modemIndex = -1;
  EXPECT_EQ(0, mmcli_GetIdx(ctx_, 1));
  EXPECT_EQ("mmcli -L\n", Calls());

  unlink((root_ / "usr/bin/mmcli").c_str());
  modem_.modemIndex = 5;
  EXPECT_EQ(0, mmcli_GetIdx(ctx_, 0));
  EXPECT_EQ(-1, modem_.modemIndex);
}

TEST_F(ChannelTest, SendTurnsTheResponseLineIntoTheReply) {
  struct Case {
    const char* name;
    std::string output;
    int result;
    std::string reply;
  };
  const std::string multiline = Sample("mmcli-m0-command_multiline_QENG-neighbourcell.stdout");
  const Case cases[] = {
      {"response line", Sample("mmcli-m0-command_AT-CSQ.stdout"), 12, "'+CSQ: 23,99"},
      {"multi-line answer keeps inner CRLF", multiline,
       static_cast<int>(multiline.size()) - 12, multiline.substr(10, multiline.size() - 12)},
      {"empty answer", Sample("mmcli-m0-command_empty-response.stdout"), 1, "'"},
      {"CR and LF after the quote", "response: 'OK'\r\n", 3, "'OK"},
      {"tabs and line breaks", "response: 'OK'\t\n\r\n", 3, "'OK"},
      {"only one quote removed", "response: '''\n", 2, "''"},
      {"quote before a blank stays", "response: 'OK' \n", 5, "'OK' "},
      {"no closing quote", "response: 'abc\n", 4, "'abc"},
      {"eleven characters", "response: x\n", 1, "x"},
      {"ten characters", "response: \n", 0, ""},
      {"ten characters after the quote", "response: '\n", 0, ""},
      {"one character", "x", 0, ""},
      {"one character after line breaks", "x\r\n\r\n", 0, ""},
      {"nothing", "", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Answer("mmcli", c.output);
    std::vector<char> reply(kModemReplySize, '\0');
    EXPECT_EQ(c.result, modem_Send(ctx_, "AT+CSQ\r", 8, reply.data()));
    EXPECT_EQ(c.reply, std::string(reply.data()));
  }
}

TEST_F(ChannelTest, SendPassesClientErrorTextOnAsReply) {
  Answer("mmcli", Sample("mmcli-m5-command_unknown-modem.stderr"), true);
  std::vector<char> reply(kModemReplySize, '\0');
  EXPECT_EQ(16, modem_Send(ctx_, "AT+CSQ\r", 8, reply.data()));
  EXPECT_STREQ("ldn't find modem", reply.data());
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
    for (const char* command : {"AT+CSQ\r", "AT+CPIN?\r", "AT+CSQ\r"}) {
      std::vector<char> reply(kModemReplySize, '\0');
      modem_Send(ctx_, command, static_cast<int>(strlen(command)) + 1, reply.data());
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
  std::vector<char> reply(kModemReplySize, '\0');
  testing::internal::CaptureStdout();
  modem_Send(ctx_, "AT+CSQ\r", 8, reply.data());
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ("Sending command: " + (root_ / "usr/bin/mmcli") +
                " -m 0 --command=AT+CSQ\nGot Result Len: 22, response: '+CSQ: 23,99\n",
            out);

  modem_.modemIndex = 999;
  const char qeng[] = "AT+QENG=\"servingcell\"\r";
  modem_Send(ctx_, qeng, sizeof qeng, reply.data());
  modem_Send(ctx_, qeng, 6, reply.data());  // a short size cuts the command
  EXPECT_EQ(
      "mmcli -m 0 --command=AT+CSQ\n"
      "mmcli -m 999 --command=AT+QENG=\"servingcell\"\n"
      "mmcli -m 999 --command=AT+Q\n",
      Calls());
}

TEST_F(ChannelTest, SendRefusesEmptyCommandAndLargeIndexWithoutRunningTheClient) {
  std::vector<char> reply(kModemReplySize, '#');
  testing::internal::CaptureStderr();
  EXPECT_EQ(0, modem_Send(ctx_, "", 1, reply.data()));
  modem_.modemIndex = 1000;
  EXPECT_EQ(0, modem_Send(ctx_, "AT+CSQ\r", 8, reply.data()));
  EXPECT_EQ(0, modem_Reset(ctx_));
  EXPECT_EQ(
      "Warning: modem_Send called with empty command of length 1\n"
      "modem_Send error: Modem index too large! - 1000\n"
      "modem_Send error: Modem index too large! - 1000\n",
      testing::internal::GetCapturedStderr());
  EXPECT_EQ('#', reply[0]);
  EXPECT_EQ("", Calls());
}

TEST_F(ChannelTest, ResetReportsTheResponseLength) {
  // 31 characters, less the line feed and the ten skipped ones.
  Answer("mmcli", Sample("mmcli-m0-r.stdout"));
  EXPECT_EQ(20, modem_Reset(ctx_));
  // ModemManager's refusal is long, but no usable reply.
  Answer("mmcli", Sample("mmcli-m0-r_failure-example.stderr"), true);
  EXPECT_EQ(0, modem_Reset(ctx_));
  Answer("mmcli", "response: \n");
  EXPECT_EQ(0, modem_Reset(ctx_));
  EXPECT_EQ("mmcli -m 0 -r\nmmcli -m 0 -r\nmmcli -m 0 -r\n", Calls());
}

TEST_F(ChannelTest, QmiCmdFillsQmiResult) {
  const std::string sample = Sample("qmicli_nas-get-signal-info-lte.stdout");
  Answer("qmicli", sample);
  memset(modem_.qmiResult, '#', sizeof modem_.qmiResult);
  testing::internal::CaptureStdout();
  EXPECT_EQ(static_cast<int>(sample.size()), QmiCmd(ctx_, "--nas-get-signal-info", 2000, 200));
  EXPECT_EQ("QmiCmd: --nas-get-signal-info\n", testing::internal::GetCapturedStdout());
  EXPECT_EQ(sample, std::string(modem_.qmiResult));
  EXPECT_EQ('\0', modem_.qmiResult[kQmiResultSize - 1]);
  EXPECT_EQ("qmicli -d /dev/cdc-wdm0 -p --nas-get-signal-info\n", Calls());

  // A long answer is cut to 1022 characters.
  Answer("qmicli", std::string(3000, 'q'));
  EXPECT_EQ(1022, QmiCmd(ctx_, "--nas-get-tx-rx-info=lte", 2000, 200));
  EXPECT_EQ(std::string(1022, 'q'), std::string(modem_.qmiResult));
}

}  // namespace
