// Shared fixture of the radio parser tests: a fresh status table, a context and value access.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "config/context.h"
#include "modem/modem_session.h"
#include "status/status_table.h"
#include "tests/support/fake_board.h"
#include "tests/support/platform_samples.h"

class RadioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx_.modem = &modem_;
    ctx_.board = &board_;
    StatusInit();
    ctx_.statusTable = &statusValues;
    modem_.modemIndex = 0;
  }

  static std::string Value(uint32_t index) { return statusValues.entries[index].value; }
  static bool Written(uint32_t index) { return statusValues.entries[index].lastUpdate != 0; }
  static bool Fixed(uint32_t index) { return statusValues.entries[index].fixed != 0; }
  static void Preset(uint32_t index, const char* text) {
    snprintf(statusValues.entries[index].value, kStatusValueSize, "%s", text);
  }
  // The reply modem_Send hands over for a captured mmcli --command output.
  static std::string Reply(const std::string& sample) {
    return AsModemReply(PlatformSample(sample));
  }
  // A reply built from the answer text the way mmcli prints and modem_Send strips it.
  static std::string Answer(const std::string& answer) {
    return AsModemReply("response: '" + answer + "'\n");
  }

  ModemSession modem_;
  RecordingBoard board_;
  GatherContext ctx_{};
};
