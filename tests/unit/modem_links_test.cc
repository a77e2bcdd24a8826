// The modem steps against scripted links: they work on the answer records alone, whichever way
// filled them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/log.h"
#include "modem/channel.h"
#include "modem/collector.h"
#include "modem/collectors.h"
#include "modem/modem_pass.h"
#include "modem/modem_session.h"
#include "modem/qmi_link.h"
#include "modem/qmi_readings.h"
#include "modem/temperatures.h"
#include "status/status_table.h"
#include "tests/support/fake_board.h"
#include "tests/support/table_access.h"

namespace {

void Set(PropertyText* property, const char* text) {
  property->present = true;
  snprintf(property->text, sizeof property->text, "%s", text);
}

// Answers each request from what the test put in; records every request.
class ScriptedManager : public ModemManagerLink {
 public:
  const char* TraceName() const override { return "scripted"; }
  void List(int32_t, ModemListing* listing) override { *listing = listing_; }
  MmAnswer ReadModem(int32_t index, int32_t, ModemProperties* properties) override {
    requests.push_back("modem " + std::to_string(index));
    if (modemAnswer == MmAnswer::kAnswered) *properties = modem;
    return modemAnswer;
  }
  MmAnswer ReadBearer(int32_t index, int32_t, BearerProperties* properties) override {
    requests.push_back("bearer " + std::to_string(index));
    if (bearerAnswer == MmAnswer::kAnswered) *properties = bearer;
    return bearerAnswer;
  }
  MmAnswer Command(int32_t index, const char* command, int32_t, AtReply* reply) override {
    requests.push_back(std::to_string(index) + " " + command);
    if (answers.empty()) return MmAnswer::kNone;
    const std::string answer = answers.front();
    answers.erase(answers.begin());
    if (answer == "<forbidden>") {
      reply->forbidden = true;
      return MmAnswer::kRefused;
    }
    reply->length = static_cast<int32_t>(answer.size());
    memcpy(reply->text, answer.c_str(), answer.size() + 1);
    return MmAnswer::kAnswered;
  }
  MmAnswer Reset(int32_t, int32_t) override { return MmAnswer::kNone; }

  ModemListing listing_{};
  MmAnswer modemAnswer = MmAnswer::kAnswered;
  MmAnswer bearerAnswer = MmAnswer::kAnswered;
  ModemProperties modem{};
  BearerProperties bearer{};
  std::vector<std::string> answers;  // AT answers in order; "<forbidden>": the refusal of all
  std::vector<std::string> requests;
};

class ScriptedQmi : public QmiLink {
 public:
  QmiAnswer PowerOnSim(const char*, int32_t) override { return answer; }
  QmiAnswer EnableAutoconnect(const char*, int32_t) override { return answer; }
  QmiAnswer ReadTxRxInfo(const char*, int32_t, TxRxInfo*) override { return answer; }
  QmiAnswer ReadCaInfo(const char*, int32_t, CaInfo* info) override {
    if (answer == QmiAnswer::kAnswered) *info = ca;
    return answer;
  }
  QmiAnswer ReadSignalInfo(const char* device, int32_t, SignalInfo* info) override {
    lastDevice = device;
    if (answer == QmiAnswer::kAnswered) *info = signal;
    return answer;
  }
  QmiAnswer answer = QmiAnswer::kAnswered;
  CaInfo ca{};
  SignalInfo signal{};
  std::string lastDevice;
};

class ModemLinksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    modem_.modemIndex = 0;
    snprintf(modem_.qmiDevice, sizeof modem_.qmiDevice, "/dev/cdc-wdm0");
  }
  std::string Value(StatusIndex index) const { return EntryOf(table_, index).value; }
  // Written since the latest Clear (or since the start).
  bool Written(StatusIndex index) const { return EntryOf(table_, index).writeSeq > mark_; }
  // Every value empty again, nothing written since.
  void Clear() {
    EmptyTable(table_);
    mark_ = SnapshotOf(table_).writeCount;
  }

  ScriptedManager manager_;
  ScriptedQmi qmi_;
  ModemSession modem_;
  StatusTable table_;
  uint64_t mark_ = 0;
  RecordingBoard board_;
  ModemPass ctx_{table_, modem_, board_, manager_, qmi_};
};

TEST_F(ModemLinksTest, PropertiesAskTheListedBearerAndStoreWhatWasReported) {
  Set(&manager_.modem.signalQuality, "64");
  Set(&manager_.modem.imei, "866758041234564");
  Set(&manager_.modem.ownNumber, "15551230147");
  Set(&manager_.modem.initialBearerApn, "initial.apn");
  Set(&manager_.modem.firstBearer, "/org/freedesktop/ModemManager1/Bearer/2");
  Set(&manager_.bearer.apn, "fast.t-mobile.com");
  testing::internal::CaptureStdout();
  GetModemProperties(ctx_);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ((std::vector<std::string>{"modem 0", "bearer 2"}), manager_.requests);
  EXPECT_EQ("64%", Value(kSignalPercent_s));
  EXPECT_EQ("866758041234564", Value(kIMEI_s));
  EXPECT_EQ("555.123.0147", Value(kPhoneNumber_s));
  EXPECT_EQ("fast.t-mobile.com", Value(kApn_s));  // the bearer's APN before the initial one
  EXPECT_TRUE(modem_.lifeSigns.Answered(ModemWay::kProperties));
  EXPECT_EQ(0u, out.find("Sending command: scripted -m 0 -K\n")) << out;
  EXPECT_NE(std::string::npos, out.find("Sending command: scripted -b 2 -K\n")) << out;
  // A value not reported is not stored: the table keeps what it had.
  EXPECT_FALSE(Written(kModemSwVersion_s));
}

TEST_F(ModemLinksTest, PropertiesWithoutAnswerOrBearerAskNoFurther) {
  struct Case {
    const char* name;
    MmAnswer modemAnswer;
    const char* bearerPath;  // nullptr: no bearer listed
    std::vector<std::string> requests;
    std::string apn;
  } cases[] = {
      {"refused", MmAnswer::kRefused, "/org/freedesktop/ModemManager1/Bearer/2", {"modem 0"}, ""},
      {"no answer", MmAnswer::kNone, "/org/freedesktop/ModemManager1/Bearer/2", {"modem 0"}, ""},
      {"no bearer", MmAnswer::kAnswered, nullptr, {"modem 0"}, "initial.apn"},
      {"a path of no bearer", MmAnswer::kAnswered, "/org/x/Thing/3", {"modem 0"}, "initial.apn"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Clear();
    modem_ = ModemSession{};
    modem_.modemIndex = 0;
    manager_.requests.clear();
    manager_.modemAnswer = c.modemAnswer;
    manager_.modem = ModemProperties{};
    Set(&manager_.modem.imei, "866758041234564");
    Set(&manager_.modem.initialBearerApn, "initial.apn");
    if (c.bearerPath != nullptr) Set(&manager_.modem.firstBearer, c.bearerPath);
    testing::internal::CaptureStdout();
    GetModemProperties(ctx_);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(c.requests, manager_.requests);
    EXPECT_EQ(c.apn, Value(kApn_s));
    const bool answered = c.modemAnswer == MmAnswer::kAnswered;
    EXPECT_EQ(answered, Written(kIMEI_s));
    EXPECT_EQ(answered, modem_.lifeSigns.Answered(ModemWay::kProperties));
  }
}

// The rows hand the link the command as the modem takes it; the link's refusal of every AT
// command is said once.
TEST_F(ModemLinksTest, AtRowsSendTheBareCommandAndReportTheRefusalOnce) {
  ResetLogRepeat();
  manager_.answers = {"<forbidden>", "<forbidden>"};
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  EXPECT_EQ(0, RunCollector(ctx_, AtRow("AT+CSQ", nullptr)));
  EXPECT_EQ(0, RunCollector(ctx_, AtRow("AT+QENG=\"servingcell\"", nullptr)));
  const std::string out = testing::internal::GetCapturedStdout();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ((std::vector<std::string>{"0 AT+CSQ", "0 AT+QENG=\"servingcell\""}), manager_.requests);
  EXPECT_EQ(0u, out.find("Sending command: scripted -m 0 --command=AT+CSQ\n")) << out;
  const std::string notice = "ModemManager refuses AT commands";
  EXPECT_NE(std::string::npos, err.find(notice)) << err;
  EXPECT_EQ(err.find(notice), err.rfind(notice)) << err;
}

// The readings of AT+QTEMP arrive with the next command's answer, laid over the first answer.
TEST_F(ModemLinksTest, TemperaturesReadTheSecondAnswerOverTheFirst) {
  struct Case {
    const char* name;
    std::vector<std::string> answers;
    bool taken;
  } cases[] = {
      {"second answer holds the report", {"OK", "+QTEMP: \"a\",\"1\"\r\nOK"}, true},
      {"second answer too short", {"+QTEMP: \"a\",\"1\"", "OK"}, false},
      {"second answer missing", {"OK"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    manager_.answers = c.answers;
    manager_.requests.clear();
    AtReply scratch{};
    testing::internal::CaptureStdout();
    const char* text = AskTemperatures(ctx_, Collector{}, &scratch);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ((std::vector<std::string>{"0 AT+QTEMP", "0 AT"}), manager_.requests);
    EXPECT_EQ(c.taken, text != nullptr);
    if (text != nullptr) {
      EXPECT_EQ(c.answers[1], std::string(text));
    }
  }
  // A longer first answer keeps its rest after the second one.
  manager_.answers = {"OK\r\n+QTEMP: rest", "ABC"};
  AtReply scratch{};
  testing::internal::CaptureStdout();
  const char* text = AskTemperatures(ctx_, Collector{}, &scratch);
  testing::internal::GetCapturedStdout();
  ASSERT_NE(nullptr, text);
  EXPECT_EQ("ABC\n+QTEMP: rest", std::string(text));
}

// A QMI row stores only an answered, valid reading; only an answer shows the modem alive on the
// QMI way; a row without an answer says its failure.
TEST_F(ModemLinksTest, QmiRowsTakeOnlyAnsweredReadings) {
  struct Case {
    QmiAnswer answer;
    bool valid;
    int result;
    bool alive;
    const char* said;
  } cases[] = {
      {QmiAnswer::kAnswered, true, 1, true, ""},
      {QmiAnswer::kAnswered, false, 0, true, ""},
      {QmiAnswer::kRefused, true, 0, false, "GetCAInfo failed\n"},
      {QmiAnswer::kNone, true, 0, false, "GetCAInfo failed\n"},
  };
  for (const Case& c : cases) {
    Clear();
    modem_ = ModemSession{};
    snprintf(modem_.qmiDevice, sizeof modem_.qmiDevice, "/dev/cdc-wdm0");
    qmi_.answer = c.answer;
    qmi_.ca.valid = c.valid;
    snprintf(qmi_.ca.band, sizeof qmi_.ca.band, "66");
    testing::internal::CaptureStderr();
    EXPECT_EQ(c.result, RunCollector(ctx_, QmiRow(QmiCaInfo, 1000).OrSay("GetCAInfo failed\n")));
    EXPECT_EQ(c.said, testing::internal::GetCapturedStderr());
    EXPECT_EQ(c.result == 1 ? "66" : "", Value(kQmi_CaBand_i));
    EXPECT_EQ(c.alive, modem_.lifeSigns.Answered(ModemWay::kQmi));
  }
  qmi_.answer = QmiAnswer::kAnswered;
  qmi_.signal.valid = true;
  snprintf(qmi_.signal.snr, sizeof qmi_.signal.snr, "12.5");
  EXPECT_EQ(1, QmiSignalInfo(ctx_, 2000));
  EXPECT_EQ("/dev/cdc-wdm0", qmi_.lastDevice);
  EXPECT_EQ("12.5", Value(kQmi_ScSnr_f));
}

}  // namespace
