// Finding the modem's devices with libudev (AT port, QMI control device, network device and its
// MAC) and the MAC address of a network interface.
#pragma once

struct ModemPass;

// Scans the net, tty and usbmisc devices once, with a libudev context of its own, and fills
// atDevice, qmiDevice and modemMac. 1 when the AT port and the QMI device are both known and this
// scan matched one of them, else 0; -1 (nothing scanned) when no libudev context can be made.
int EnumerateModemDevices(ModemPass& pass);
// 1 when the device is the AT port or the QMI device, else 0; a wwan interface records its MAC.
int CheckModemDevice(ModemPass& pass, const char* name, const char* path, const char* address);
// Writes the interface's hardware address as "xx:xx:xx:xx:xx:xx" into output (18 bytes); 1 on
// success, 0 when the interface is unknown or its address is all zeros.
int GetMacAddress(const char* interfaceName, char* output);
