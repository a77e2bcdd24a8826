#include "modem/discovery.h"

#include <libudev.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "base/console_text.h"
#include "modem/modem_pass.h"
#include "modem/modem_session.h"
#include "platform/board.h"
#include "status/status_table.h"

namespace {

constexpr char kZeroAddress[] = "00:00:00:00:00:00";
constexpr int kMacTextSize = 18;

// Releases the libudev object it holds when it goes out of scope.
template <typename T, T* (*Unref)(T*)>
class UdevRef {
 public:
  explicit UdevRef(T* object) : object_(object) {}
  ~UdevRef() {
    if (object_ != nullptr) Unref(object_);
  }
  UdevRef(const UdevRef&) = delete;
  UdevRef& operator=(const UdevRef&) = delete;
  T* get() const { return object_; }

 private:
  T* object_;
};

using ContextRef = UdevRef<struct udev, udev_unref>;
using EnumerateRef = UdevRef<udev_enumerate, udev_enumerate_unref>;
using DeviceRef = UdevRef<udev_device, udev_device_unref>;

class SocketFd {
 public:
  explicit SocketFd(int fd) : fd_(fd) {}
  ~SocketFd() {
    if (fd_ >= 0) close(fd_);
  }
  SocketFd(const SocketFd&) = delete;
  SocketFd& operator=(const SocketFd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

bool IsZeroAddress(const char* address) { return strcmp(address, kZeroAddress) == 0; }

}  // namespace

int EnumerateModemDevices(ModemPass& pass) {
  ContextRef context(udev_new());
  if (context.get() == nullptr) return -1;
  puts("udevEnumerate");
  EnumerateRef enumerate(udev_enumerate_new(context.get()));
  if (enumerate.get() == nullptr) {
    fputs("Cannot create udev enumerate context\n", stderr);
    return 0;
  }
  udev_enumerate_add_match_subsystem(enumerate.get(), "net");
  udev_enumerate_add_match_subsystem(enumerate.get(), "tty");
  udev_enumerate_add_match_subsystem(enumerate.get(), "usbmisc");
  udev_enumerate_scan_devices(enumerate.get());
  struct udev_list_entry* devices = udev_enumerate_get_list_entry(enumerate.get());
  if (devices == nullptr) {
    fputs("Failed to get udev device list\n", stderr);
    return 0;
  }

  int found = 0;
  struct udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, devices) {
    const char* path = udev_list_entry_get_name(entry);
    if (path == nullptr) continue;
    DeviceRef device(udev_device_new_from_syspath(context.get(), path));
    const char* name = nullptr;
    const char* address = nullptr;
    if (device.get() != nullptr) {
      name = udev_device_get_sysname(device.get());
      address = udev_device_get_sysattr_value(device.get(), "address");
    }
    char wwan_mac[kMacTextSize] = {};
    if (name != nullptr && strstr(name, "cdc-wdm") != nullptr && address == nullptr) {
      // The control device has no address of its own: take the modem's network interface's.
      if (GetMacAddress(pass.board.WwanInterface(), wwan_mac)) address = wwan_mac;
    }
    if (CheckModemDevice(pass, name, path, address) == 1) {
      found = 1;
      if (address != nullptr && !IsZeroAddress(address)) {
        snprintf(pass.session.modemMac, kMacTextSize, "%s", address);
        pass.table.UpdateFixed(kModemMacAddr_s, pass.session.modemMac);
      }
    }
  }

  int connected = 0;
  if (pass.session.qmiDevice[0] == '\0' || pass.session.atDevice[0] == '\0') {
    connected = 0;
  } else if (found) {
    connected = 1;
  } else {
    puts("  Modem now disconnected");
    pass.session.atDevice[0] = '\0';
    pass.session.qmiDevice[0] = '\0';
    pass.session.modemMac[0] = '\0';
  }
  printf("  udevEnumerate - Connected: %d\n", connected);
  fflush(stdout);
  return connected;
}

int CheckModemDevice(ModemPass& pass, const char* name, const char* path, const char* address) {
  if (name == nullptr || path == nullptr) return 0;
  if (strstr(path, ":1.2/ttyUSB") != nullptr) {
    snprintf(pass.session.atDevice, sizeof pass.session.atDevice, "/dev/%s", name);
    PrintOutsideText(stdout, "Found serial device at %s\n", pass.session.atDevice);
    return 1;
  }
  if (strstr(path, "net/wwan") != nullptr) {
    // An all-zero address is no address: it never replaces a known one.
    if (address != nullptr && !IsZeroAddress(address)) {
      snprintf(pass.session.modemMac, sizeof pass.session.modemMac, "%s", address);
      PrintOutsideText(stdout, "Found MAC address at %s\n", pass.session.modemMac);
      pass.table.UpdateFixed(kModemMacAddr_s, pass.session.modemMac);
    }
    return 0;
  }
  if (strstr(path, "usbmisc/cdc-") != nullptr) {
    snprintf(pass.session.qmiDevice, sizeof pass.session.qmiDevice, "/dev/%s", name);
    PrintOutsideText(stdout, "Found modem device at %s\n", pass.session.qmiDevice);
    return 1;
  }
  return 0;
}

int GetMacAddress(const char* interfaceName, char* output) {
  SocketFd sock(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (sock.get() < 0) return 0;
  struct ifreq request {};
  snprintf(request.ifr_name, sizeof request.ifr_name, "%s", interfaceName);
  if (ioctl(sock.get(), SIOCGIFHWADDR, &request) != 0) return 0;
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(request.ifr_hwaddr.sa_data);
  bool all_zero = true;
  for (int i = 0; i < 6; ++i) all_zero = all_zero && bytes[i] == 0;
  if (all_zero) return 0;
  snprintf(output, kMacTextSize, "%02x:%02x:%02x:%02x:%02x:%02x", bytes[0], bytes[1], bytes[2],
           bytes[3], bytes[4], bytes[5]);
  return 1;
}
