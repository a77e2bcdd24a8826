// The CSV record: header line, record ids, separators, quoting and the buffer bound.
#include "report/csv_record.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report/report_state.h"
#include "status/status_table.h"
#include "tests/support/csv_fields.h"
#include "tests/support/table_access.h"

namespace {

class CsvRecordTest : public ::testing::Test {
 protected:
  std::string Render(int header, size_t size = kCsvRenderSize) {
    std::vector<char> buffer(kCsvBufferSize, '\0');
    EXPECT_EQ(GetCSVData(SnapshotOf(table_), &report_, buffer.data(), size, header), 1);
    return buffer.data();
  }
  StatusTable table_;
  ReportState report_{};
};

TEST_F(CsvRecordTest, HeaderLineOnlyWhenAskedThenRecordsWithRisingIds) {
  std::string text = Render(1);
  size_t line_end = text.find('\n');
  ASSERT_NE(line_end, std::string::npos);
  std::vector<std::string> names = SplitCsv(text.substr(0, line_end));
  ASSERT_EQ(names.size(), 98u);
  EXPECT_EQ(names[0], "Cprint");
  EXPECT_EQ(names[2], "");  // index two has no title
  EXPECT_EQ(names[32], "GPS Error");
  EXPECT_EQ(names[97], "ExternalIpAddr");
  EXPECT_EQ(text.substr(line_end + 1), "id=0i" + std::string(97, ',') + "\n");
  EXPECT_EQ(Render(0), "id=1i" + std::string(97, ',') + "\n");
}

TEST_F(CsvRecordTest, ValuesInTheirColumnsQuotedOnlyWhenNeeded) {
  struct Case {
    uint32_t index;
    const char* value;
    const char* written;
  } cases[] = {
      {kSn_s, "SN123", "SN123"},
      {kHnName_s, "Net, Inc", "\"Net, Inc\""},
      {kApn_s, "say \"hi\"", "\"say \"\"hi\"\"\""},
      {kConnection_s, "a\nb", "\"a\nb\""},
      {kIMEI_s, "a\rb", "\"a\rb\""},
      {kNMEA_s, "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47",
       "\"$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\""},
      {kUeRssi_i, "-71", "-71"},  // expired below: written like a current value
      {kExternalIpAddr, "203.0.113.7", "203.0.113.7"},
  };
  for (const Case& c : cases) table_.Update(c.index, c.value, 0);
  table_.Expire(StatusKind::kLink);
  table_.UpdateFixed(kCprint, "0");
  std::string record = Render(0);
  for (const Case& c : cases) {
    EXPECT_NE(record.find(std::string(",") + c.written + (c.index == 97 ? "\n" : ",")),
              std::string::npos)
        << c.written;
  }
  ASSERT_EQ(record.back(), '\n');
  std::vector<std::string> fields = SplitCsv(record.substr(0, record.size() - 1));
  ASSERT_EQ(fields.size(), 98u);  // the NMEA sentence shifts nothing
  EXPECT_EQ(fields[0], "id=0i0");  // no separator after the id
  for (const Case& c : cases) EXPECT_EQ(fields[c.index], c.value);
}

TEST_F(CsvRecordTest, PiecesThatDoNotFitAreSkippedWhole) {
  table_.Update(kSn_s, "ABCDEFGHIJ", 0);
  const std::string rest = ",ABCDEFGHIJ" + std::string(96, ',') + "\n";
  const size_t n = 5 + rest.size();  // "id=Ni" and the rest
  // Everything fits with one byte to spare.
  EXPECT_EQ(Render(0, n + 1), "id=0i" + rest);
  // One byte less: the final line feed is skipped.
  EXPECT_EQ(Render(0, n), "id=1i" + rest.substr(0, rest.size() - 1));
  // Room for the id and a few bytes: the value is skipped, later commas still go in.
  EXPECT_EQ(Render(0, 5 + 9), "id=2i" + std::string(8, ','));
}

}  // namespace
