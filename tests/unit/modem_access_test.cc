#include "config/modem_access_option.h"

#include <gtest/gtest.h>

TEST(ModemAccess, OptionValues) {
  const struct {
    const char* text;
    ModemAccess expected;
  } cases[] = {
      {"", ModemAccess::kMmcli},         {"mmcli", ModemAccess::kMmcli},
      {"dbus", ModemAccess::kDbus},      {"DBus", ModemAccess::kUnknown},
      {"dbus ", ModemAccess::kUnknown},  {"libmm", ModemAccess::kUnknown},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseModemAccess(c.text), c.expected) << c.text;
}
