// Shared fixture of the radio parser tests: a fresh status table, a modem pass and value access.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "modem/modem_pass.h"
#include "modem/modem_session.h"
#include "status/status_table.h"
#include "tests/support/fake_board.h"
#include "tests/support/platform_samples.h"
#include "tests/support/table_access.h"
#include "tests/support/client_links.h"

class RadioTest : public ::testing::Test {
 protected:
  void SetUp() override { modem_.modemIndex = 0; }

  std::string Value(uint32_t index) const { return EntryOf(table_, index).value; }
  // Written since the latest Preset or Mark (or since the start).
  bool Written(uint32_t index) const { return EntryOf(table_, index).writeSeq > mark_; }
  void Mark() { mark_ = SnapshotOf(table_).writeCount; }
  bool Fixed(uint32_t index) const { return EntryOf(table_, index).fixed != 0; }
  void Preset(uint32_t index, const char* text) {
    table_.Update(index, text);
    Mark();
  }
  // The answer the mmcli link hands over for a captured mmcli --command output.
  static std::string Reply(const std::string& sample) {
    return AsModemReply(PlatformSample(sample));
  }
  // An answer as it reaches the parsers, through the way mmcli prints it.
  static std::string Answer(const std::string& answer) {
    return AsModemReply("response: '" + answer + "'\n");
  }

  ModemSession modem_;
  uint64_t mark_ = 0;
  StatusTable table_;
  RecordingBoard board_;
  ClientLinks links_;
  ModemPass ctx_{table_, modem_, board_, links_.mmcli, links_.qmicli};
};
