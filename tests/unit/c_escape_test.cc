#include "modem/c_escape.h"

#include <gtest/gtest.h>

#include <string>

#if MODEM_STATUS_TEST_GLIB
#include <glib.h>
#endif

namespace {

std::string Escaped(const std::string& text) {
  std::string out(kEscapedBytesPerByte * text.size() + 1, '?');
  const size_t length = EscapeCStyle(text.data(), text.size(), &out[0]);
  EXPECT_EQ(out[length], '\0');
  out.resize(length);
  return out;
}

TEST(CEscapeTest, EachKindOfByte) {
  const struct {
    std::string text;
    std::string escaped;
  } cases[] = {
      {"", ""},
      {"fast.t-mobile.com", "fast.t-mobile.com"},
      {" ~!#$%&'()*+,-./09:;<=>?@AZ[]^_`az{|}", " ~!#$%&'()*+,-./09:;<=>?@AZ[]^_`az{|}"},
      {"\b\f\n\r\t\v", "\\b\\f\\n\\r\\t\\v"},
      {"say \"\\\"", "say \\\"\\\\\\\""},
      {"\x01\x07\x1b\x1f", "\\001\\007\\033\\037"},
      {"\x7f\x80\xc3\xa9\xff", "\\177\\200\\303\\251\\377"},
      {"a\x01"
       "7",
       "a\\0017"},  // an octal escape is always three digits
  };
  for (const auto& c : cases) EXPECT_EQ(Escaped(c.text), c.escaped) << c.text;
}

TEST(CEscapeTest, ReadsOnlyTheGivenLengthAndFillsTheWholeRoom) {
  char out[kEscapedBytesPerByte * 3 + 1];
  EXPECT_EQ(EscapeCStyle("abcdef", 3, out), 3u);
  EXPECT_STREQ(out, "abc");
  // Three bytes that each take the most room.
  EXPECT_EQ(EscapeCStyle("\xff\xfe\x01", 3, out), sizeof out - 1);
  EXPECT_STREQ(out, "\\377\\376\\001");
}

#if MODEM_STATUS_TEST_GLIB
// Values were escaped with g_strescape before: every byte value comes out the same.
TEST(CEscapeTest, SameAsGlibForEveryByte) {
  std::string all;
  for (int b = 1; b < 256; ++b) {
    const std::string one(1, static_cast<char>(b));
    gchar* glib = g_strescape(one.c_str(), nullptr);
    EXPECT_EQ(Escaped(one), glib) << "byte " << b;
    g_free(glib);
    all += one;
  }
  gchar* glib = g_strescape(all.c_str(), nullptr);
  EXPECT_EQ(Escaped(all), glib);
  g_free(glib);
}
#endif

}  // namespace
