#include "daemon/modem_access.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "base/stop_event.h"
#include "config/modem_access_option.h"

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

TEST(QmiAccess, OptionValues) {
  const struct {
    const char* text;
    QmiAccess expected;
  } cases[] = {
      {"", QmiAccess::kQmicli},         {"qmicli", QmiAccess::kQmicli},
      {"libqmi", QmiAccess::kLibqmi},   {"LibQMI", QmiAccess::kUnknown},
      {"libqmi ", QmiAccess::kUnknown}, {"qmi", QmiAccess::kUnknown},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseQmiAccess(c.text), c.expected) << c.text;
}

// The in-process QMI way is taken only when its device opens; otherwise the qmicli way stays,
// with one line saying why. The qmicli way is chosen silently.
TEST(QmiAccess, FallsBackToQmicliWithOneLine) {
  StopEvent stop;
  const struct {
    QmiAccess access;
    const char* device;
    const char* said;  // the start of the one line, or "" for none
  } cases[] = {
      {QmiAccess::kQmicli, "/dev/cdc-wdm0", ""},
      {QmiAccess::kLibqmi, "",
       QmiGlibLink::Built() ? "qmi_access 'libqmi': no QMI device found: using qmicli\n"
                            : "qmi_access 'libqmi' is not built in: using qmicli\n"},
      {QmiAccess::kLibqmi, "/nonexistent/cdc-wdm9",
       QmiGlibLink::Built() ? "qmi_access 'libqmi': " : "qmi_access 'libqmi' is not built in"},
  };
  for (const auto& c : cases) {
    ModemLinks links(&stop);
    testing::internal::CaptureStdout();
    links.ChooseQmi(c.access, c.device);
    const std::string out = testing::internal::GetCapturedStdout();
    if (c.said[0] == '\0') {
      EXPECT_EQ("", out);
    } else {
      EXPECT_EQ(0u, out.find(c.said)) << out;
      EXPECT_NE(std::string::npos, out.find(": using qmicli\n")) << out;
      EXPECT_EQ(1, std::count(out.begin(), out.end(), '\n')) << out;
    }
    links.Close();
  }
}
