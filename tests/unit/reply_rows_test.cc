#include "modem/reply_rows.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> RowsOf(const ReplyRows& rows) {
  std::vector<std::string> out;
  for (int i = 0; i < rows.count; ++i) out.emplace_back(rows.row[i]);
  return out;
}

struct SplitCase {
  const char* name;
  const char* text;
  const char* delimiters;
  int limit;
  std::vector<std::string> rows;
  bool full;
};

TEST(SplitReplyRows, CutsLikeStrtok) {
  const std::vector<SplitCase> cases = {
      {"run of commas gives no empty row", " 5,,7", kAtDelimiters, 5, {" 5", "7"}, false},
      {"leading and trailing delimiters", "\r\n1,2\r\n\r\nOK\r\n", kAtDelimiters, 5,
       {"1", "2", "OK"}, false},
      {"space is no delimiter", " a b , c", kAtDelimiters, 5, {" a b ", " c"}, false},
      {"double quote splits QENG rows", "\"servingcell\",\"LTE\",1", kQengDelimiters, 64,
       {"servingcell", "LTE", "1"}, false},
      {"colon splits QMI rows", "\tPower: '-61.2 dBm'\n", kQmiDelimiters, 32,
       {"\tPower", " '-61.2 dBm'"}, false},
      {"exactly the table's size is not full", "a,b,c,d", kAtDelimiters, 4,
       {"a", "b", "c", "d"}, false},
      {"trailing delimiters after a full table", "a,b,c,d,\r\n", kAtDelimiters, 4,
       {"a", "b", "c", "d"}, false},
      {"one piece more than the table", "a,b,c,d,e", kAtDelimiters, 4, {"a", "b", "c", "d"}, true},
      {"nothing but delimiters", ",\r\n,", kAtDelimiters, 4, {}, false},
      {"empty text", "", kAtDelimiters, 4, {}, false},
  };
  for (const SplitCase& c : cases) {
    ReplyRows rows;
    SplitReplyRows(c.text, c.delimiters, c.limit, kAtRowChars, false, &rows);
    EXPECT_EQ(c.rows, RowsOf(rows)) << c.name;
    EXPECT_EQ(c.full, rows.full) << c.name;
    EXPECT_STREQ("", rows.row[rows.count]) << c.name << ": rows past the count read empty";
  }
}

TEST(SplitReplyRows, CutsLongPiecesButEchoesThemWhole) {
  const std::string long_piece(70, 'x');
  const std::string text = long_piece + "," + std::string(63, 'y') + "," + std::string(62, 'z');
  ReplyRows rows;
  testing::internal::CaptureStdout();
  SplitReplyRows(text.c_str(), kAtDelimiters, 8, kAtRowChars, true, &rows);
  const std::string echo = testing::internal::GetCapturedStdout();
  ASSERT_EQ(3, rows.count);
  EXPECT_EQ(std::string(63, 'x'), rows.row[0]);
  EXPECT_EQ(std::string(63, 'y'), rows.row[1]);
  EXPECT_EQ("Row: 0, " + long_piece + "\nRow: 1, " + std::string(63, 'y') + "\nRow: 2, " +
                std::string(62, 'z') + "\n",
            echo);

  SplitReplyRows(text.c_str(), kAtDelimiters, 8, kQmiRowChars, false, &rows);
  EXPECT_EQ(std::string(62, 'y'), rows.row[1]);
  EXPECT_EQ(std::string(62, 'z'), rows.row[2]);
}

TEST(SplitReplyRows, FillsTheWholeTable) {
  std::string text;
  for (int i = 0; i < kMaxReplyRows + 1; ++i) text += std::to_string(i) + ",";
  ReplyRows rows;
  SplitReplyRows(text.c_str(), kAtDelimiters, kMaxReplyRows, kAtRowChars, false, &rows);
  EXPECT_EQ(kMaxReplyRows, rows.count);
  EXPECT_TRUE(rows.full);
  EXPECT_STREQ("63", rows.row[63]);
}

TEST(ExtractNumber, WalksDigitsSignsAndPoints) {
  struct Case {
    const char* row;
    int limit;
    const char* expected;
  };
  const Case cases[] = {
      {" 20", 13, "20"},
      {"-7.5dB", 13, "-7.5"},
      {"ab", 13, ""},
      {"--5", 13, "--5"},
      {"12-3", 13, "12-3"},
      {" '-61.2 dBm'", 16, "-61.2"},
      {" 'eutran-2'", 6, "-2"},
      {" 'unknown'", 16, ""},
      {"1234567", 6, "123456"},
      {"-123456", 6, "-12345"},
      {"123456", 6, "123456"},
      {"", 6, ""},
  };
  for (const Case& c : cases) {
    char out[32];
    memset(out, 'Z', sizeof out);
    ExtractNumber(c.row, c.limit, out);
    EXPECT_STREQ(c.expected, out) << c.row << " limit " << c.limit;
  }
}

TEST(StripQuotes, KeepsShortFieldsWithoutQuotes) {
  struct Case {
    const char* row;
    const char* expected;
  };
  const Case cases[] = {
      {"\"41\"", "41"},
      {" 41", "41"},
      {"'-5'", "-5"},
      {"\"1234\"", ""},          // 6 characters
      {"12345", "12345"},        // 5 characters: the longest taken
      {" ", ""},
      {"\"a'b\"", "a'b"},
      {"\"35\"x", "35"},         // the closing quote ends the walk
      {"4 1", "41"},
      {"'a b'", "a b"},          // blanks inside quotes are kept
      {"\" \"", " "},
  };
  for (const Case& c : cases) {
    char out[kStripQuotesSize];
    StripQuotes(c.row, out);
    EXPECT_STREQ(c.expected, out) << "[" << c.row << "]";
  }
}

}  // namespace
