// Device discovery with the real libudev against umockdev test beds. The program runs itself again
// with the umockdev preload library when started without it, so it works from ctest and by hand.
#include "modem/discovery.h"

#include <gtest/gtest.h>
#include <umockdev.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "modem/modem_pass.h"
#include "modem/modem_session.h"
#include "status/status_table.h"
#include "tests/support/fake_board.h"
#include "tests/support/table_access.h"
#include "tests/support/client_links.h"

namespace {

const char kUsbParents[] = R"(P: /devices/platform/ehci-platform/usb1
E: SUBSYSTEM=usb
E: DEVTYPE=usb_device

P: /devices/platform/ehci-platform/usb1/1-1
E: SUBSYSTEM=usb
E: DEVTYPE=usb_device
A: idVendor=2c7c
A: idProduct=0512
)";

std::string Interface(const std::string& port, const std::string& number,
                      const std::string& usb = "1-1") {
  return "P: /devices/platform/ehci-platform/usb1/" + usb + "/" + usb + ":" + port +
         "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nA: bInterfaceNumber=" + number + "\n";
}

std::string SerialPort(const std::string& port, const std::string& tty,
                       const std::string& usb = "1-1") {
  std::string base =
      "/devices/platform/ehci-platform/usb1/" + usb + "/" + usb + ":" + port + "/" + tty;
  return "P: " + base + "\nE: SUBSYSTEM=usb-serial\n\nP: " + base + "/tty/" + tty + "\nN: " + tty +
         "\nE: SUBSYSTEM=tty\nE: DEVNAME=/dev/" + tty + "\n";
}

std::string ControlDevice() {
  return "P: /devices/platform/ehci-platform/usb1/1-1/1-1:1.4/usbmisc/cdc-wdm0\nN: cdc-wdm0\n"
         "E: SUBSYSTEM=usbmisc\nE: DEVNAME=/dev/cdc-wdm0\n";
}

std::string NetDevice(const std::string& address) {
  return "P: /devices/platform/ehci-platform/usb1/1-1/1-1:1.4/net/wwan0\nE: SUBSYSTEM=net\n"
         "E: INTERFACE=wwan0\nA: address=" +
         address + "\n";
}

const char kLoopback[] = "P: /devices/virtual/net/lo\nE: SUBSYSTEM=net\nA: address=00:00:00:00:00:00\n";

std::string Join(const std::vector<std::string>& blocks) {
  std::string text;
  for (const std::string& block : blocks) text += block + "\n";
  return text;
}

class DiscoveryTest : public ::testing::Test {
 protected:
  void SetUp() override { testbed_ = umockdev_testbed_new(); }
  void TearDown() override { g_object_unref(testbed_); }

  void AddDevices(const std::string& description) {
    GError* error = nullptr;
    ASSERT_TRUE(umockdev_testbed_add_from_string(testbed_, description.c_str(), &error))
        << (error != nullptr ? error->message : "");
  }

  // Runs the enumeration and returns what it printed.
  std::string Enumerate(int* result) {
    testing::internal::CaptureStdout();
    RecordingBoard board;
    ClientLinks links;
    ModemPass pass{*table_, modem_, board, links.mmcli, links.qmicli};
    *result = EnumerateModemDevices(pass);
    return testing::internal::GetCapturedStdout();
  }

  std::string StoredMac() { return EntryOf(*table_, kModemMacAddr_s).value; }

  UMockdevTestbed* testbed_ = nullptr;
  ModemSession modem_;
  std::unique_ptr<StatusTable> table_ = std::make_unique<StatusTable>();
};

TEST_F(DiscoveryTest, EnumeratesTheModemsDevices) {
  const std::string modem = Join({kUsbParents, Interface("1.2", "02"), SerialPort("1.2", "ttyUSB2"),
                                  Interface("1.4", "04"), ControlDevice()});
  struct Case {
    const char* name;
    std::string devices;
    bool earlier_scan;  // devices and address of an earlier scan are known
    int result;
    const char* at;
    const char* qmi;
    const char* mac;
    const char* stored_mac;
    std::string out;
  };
  const std::string other_modem =
      "P: /devices/platform/ehci-platform/usb1/1-2\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n\n" +
      Interface("1.2", "02", "1-2") + "\n" + SerialPort("1.2", "ttyUSB7", "1-2");
  const Case cases[] = {
      {"the three devices", Join({modem, NetDevice("02:50:f3:00:00:01"), kLoopback}), false, 1,
       "/dev/ttyUSB2", "/dev/cdc-wdm0", "02:50:f3:00:00:01", "02:50:f3:00:00:01",
       "udevEnumerate\nFound serial device at /dev/ttyUSB2\n"
       "Found MAC address at 02:50:f3:00:00:01\nFound modem device at /dev/cdc-wdm0\n"
       "  udevEnumerate - Connected: 1\n"},
      {"serial port on interface 1.3 ignored",
       Join({kUsbParents, Interface("1.3", "03"), SerialPort("1.3", "ttyUSB3"),
             Interface("1.4", "04"), ControlDevice()}),
       false, 0, "", "/dev/cdc-wdm0", "", "",
       "udevEnumerate\nFound modem device at /dev/cdc-wdm0\n  udevEnumerate - Connected: 0\n"},
      {"the later of two serial ports wins", Join({modem, other_modem}), false, 1, "/dev/ttyUSB7",
       "/dev/cdc-wdm0", "", "",
       "udevEnumerate\nFound serial device at /dev/ttyUSB2\nFound modem device at /dev/cdc-wdm0\n"
       "Found serial device at /dev/ttyUSB7\n  udevEnumerate - Connected: 1\n"},
      {"only the network interface",
       Join({kUsbParents, Interface("1.4", "04"), NetDevice("02:50:f3:00:00:01")}), false, 0, "",
       "", "02:50:f3:00:00:01", "02:50:f3:00:00:01",
       "udevEnumerate\nFound MAC address at 02:50:f3:00:00:01\n  udevEnumerate - Connected: 0\n"},
      {"the zero address is no address", Join({modem, NetDevice("00:00:00:00:00:00")}), true, 1,
       "/dev/ttyUSB2", "/dev/cdc-wdm0", "02:50:f3:00:00:09", "",
       "udevEnumerate\nFound serial device at /dev/ttyUSB2\nFound modem device at /dev/cdc-wdm0\n"
       "  udevEnumerate - Connected: 1\n"},
      {"modem gone since the earlier scan", kLoopback, true, 0, "", "", "", "",
       "udevEnumerate\n  Modem now disconnected\n  udevEnumerate - Connected: 0\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    table_ = std::make_unique<StatusTable>();
    modem_ = ModemSession{};
    SetUp();
    AddDevices(c.devices);
    if (c.earlier_scan) {
      snprintf(modem_.atDevice, sizeof modem_.atDevice, "/dev/ttyUSB2");
      snprintf(modem_.qmiDevice, sizeof modem_.qmiDevice, "/dev/cdc-wdm0");
      snprintf(modem_.modemMac, sizeof modem_.modemMac, "02:50:f3:00:00:09");
    }
    int result = -1;
    EXPECT_EQ(c.out, Enumerate(&result));
    EXPECT_EQ(c.result, result);
    EXPECT_STREQ(c.at, modem_.atDevice);
    EXPECT_STREQ(c.qmi, modem_.qmiDevice);
    EXPECT_STREQ(c.mac, modem_.modemMac);
    EXPECT_EQ(c.stored_mac, StoredMac());
  }
}

TEST_F(DiscoveryTest, NoDevicesAtAll) {
  int result = -1;
  testing::internal::CaptureStderr();
  std::string out = Enumerate(&result);
  EXPECT_EQ("Failed to get udev device list\n", testing::internal::GetCapturedStderr());
  EXPECT_EQ(0, result);
  EXPECT_EQ("udevEnumerate\n", out);
}

TEST_F(DiscoveryTest, CheckDeviceAddNeedsNameAndPath) {
  RecordingBoard board_;
  ClientLinks links_;
  ModemPass ctx_{*table_, modem_, board_, links_.mmcli, links_.qmicli};
  EXPECT_EQ(0, CheckModemDevice(ctx_, nullptr, "/x/1-1:1.2/ttyUSB2/tty/ttyUSB2", nullptr));
  EXPECT_EQ(0, CheckModemDevice(ctx_, "ttyUSB2", nullptr, nullptr));
  EXPECT_STREQ("", modem_.atDevice);
  std::string long_name(300, 'n');
  EXPECT_EQ(1, CheckModemDevice(ctx_, long_name.c_str(), "/x/usbmisc/cdc-wdm0", nullptr));
  EXPECT_EQ(255u, strlen(modem_.qmiDevice));
}

}  // namespace

int main(int argc, char** argv) {
  const char* preload = getenv("LD_PRELOAD");
  if (preload == nullptr || strstr(preload, "umockdev") == nullptr) {
    std::string with_mock = std::string("libumockdev-preload.so.0") +
                            (preload != nullptr && *preload != '\0' ? std::string(":") + preload : "");
    setenv("LD_PRELOAD", with_mock.c_str(), 1);
    execv("/proc/self/exe", argv);
    perror("cannot run again with the umockdev preload");
    return 1;
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
