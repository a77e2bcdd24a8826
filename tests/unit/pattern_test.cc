#include "exec/pattern.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

namespace {

// A cleared area, heap-allocated (6 KiB), with input and pattern filled in.
std::unique_ptr<PatternArea> Area(const std::string& input, const std::string& pattern) {
  auto area = std::make_unique<PatternArea>();
  memset(area.get(), 0, sizeof(PatternArea));
  memcpy(area->input, input.data(), std::min(input.size(), sizeof area->input));
  memcpy(area->pattern, pattern.data(), std::min(pattern.size(), sizeof area->pattern));
  return area;
}

TEST(DoRegXTest, CopiesTheFirstMatch) {
  // A newline is a line break for the anchors and the dot.
  const char* const cases[][3] = {{"+CIMI: 310260123456789 OK", "[0-9]{15}", "310260123456789"},
                                  {"first\r\nsecond line", "^sec.*$", "second line"}};
  for (const auto& c : cases) {
    auto area = Area(c[0], c[1]);
    EXPECT_EQ(1, DoRegX(area.get())) << c[1];
    EXPECT_STREQ(c[2], area->output);
  }
}

TEST(DoRegXTest, NoMatchLeavesOutputClearAndSaysSo) {
  auto area = Area("no digits here", "[0-9]{15}");
  testing::internal::CaptureStdout();
  EXPECT_EQ(0, DoRegX(area.get()));
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(std::string::npos, out.find("No matches RegEx Error: "));
  EXPECT_NE(std::string::npos,
            out.find("DoRegX got no match Input: no digits here\nRegex : [0-9]{15}\n"));
  EXPECT_EQ(std::string(sizeof area->output, '\0'), std::string(area->output, sizeof area->output));
}

TEST(DoRegXTest, EmptyFirstMatchIsRefused) {
  auto area = Area("xyz", "a*");
  testing::internal::CaptureStderr();
  EXPECT_EQ(0, DoRegX(area.get()));
  EXPECT_EQ("Something's wrong with match_regex\n", testing::internal::GetCapturedStderr());
  EXPECT_EQ('\0', area->output[0]);
}

TEST(DoRegXTest, ExpressionLengthLimit) {
  std::string expression(2049, 'a');
  regex_t regex;
  testing::internal::CaptureStdout();
  EXPECT_EQ(1, CompilePattern(&regex, expression.c_str()));
  EXPECT_EQ("Regex definition input exceeded len\n", testing::internal::GetCapturedStdout());

  std::string at_limit(2048, 'a');
  ASSERT_EQ(0, CompilePattern(&regex, at_limit.c_str()));
  regfree(&regex);
}

TEST(DoRegXTest, BadExpressionIsReportedAndGivesZero) {
  auto area = Area("abc", "(unclosed");
  testing::internal::CaptureStdout();
  EXPECT_EQ(0, DoRegX(area.get()));
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(0u, out.find("Regcomp error compiling '(unclosed': ")) << out;
  EXPECT_EQ(std::string::npos, out.find("DoRegX got no match"));
}

TEST(GetAfterPatternTest, Cases) {
  struct Case {
    const char* input;
    const char* pattern;
    int result;
    const char* output;
  };
  const Case cases[] = {
      {"+CSQ: 23,99", "+CSQ: ", 1, "23,99"},
      {"'+CPIN: READY", "+CPIN: ", 1, "READY"},
      {"abc +CSQ: ", "+CSQ: ", 0, ""},  // the prefix ends the input
      {"abc", "+CSQ: ", 0, ""},
      {"x: 1 x: 2", "x: ", 1, "1 x: 2"},  // first occurrence
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    auto area = Area(c.input, c.pattern);
    EXPECT_EQ(c.result, GetAfterPattern(area.get()));
    EXPECT_STREQ(c.output, area->output);
  }
}

TEST(GetAfterPatternTest, LongInputIsCutAtCharacter2047) {
  auto area = Area("P:" + std::string(2046, 'v'), "P:");  // 2048 characters, no terminator
  EXPECT_EQ(1, GetAfterPattern(area.get()));
  EXPECT_EQ(std::string(2045, 'v'), std::string(area->output));
}

TEST(GetNumberAfterPatternTest, Cases) {
  struct Case {
    const char* input;
    const char* pattern;
    int result;
    const char* output;
  };
  const Case cases[] = {
      {"temp: -12 C", "temp:", 1, "-12"},
      {"temp: --", "temp:", 0, "--"},
      {"v=3.5. rest 9", "v=", 1, "3.5."},
      {"v= abc 42x7", "v=", 1, "42"},
      {"v=", "v=", 0, ""},
      {"v= x", "v=", 0, ""},
      {"+QTEMP: \"pa\",\"33\"", "\"pa\",", 1, "33"},
      {"nothing", "temp:", 0, "########"},  // no prefix: the output is left alone
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    auto area = Area(c.input, c.pattern);
    memset(area->output, '#', 8);
    EXPECT_EQ(c.result, GetNumberAfterPattern(area.get()));
    EXPECT_STREQ(c.output, area->output);
  }
}

TEST(RemoveWhiteSpaceTest, KeepsLettersAndDigitsWhenTheTextFits) {
  const char source[] = "\"12 34\"\r";  // eight characters
  char destination[64];
  memset(destination, '#', sizeof destination);
  EXPECT_EQ(0, RemoveWhiteSpace(source, destination, 64));
  EXPECT_STREQ("1234", destination);
  EXPECT_EQ(0, RemoveWhiteSpace(source, destination, 10));  // eight characters and a terminator
  EXPECT_STREQ("1234", destination);

  for (size_t size : {9u, 8u, 3u}) {
    SCOPED_TRACE(size);
    memset(destination, '#', sizeof destination);
    EXPECT_EQ(static_cast<int>(std::min<size_t>(8, size) + 1),
              RemoveWhiteSpace(source, destination, size));
    EXPECT_EQ('#', destination[0]);
  }
}

}  // namespace
