// Finding the modem's devices with libudev (AT port, QMI control device, network device and its
// MAC), the udev monitor, and the MAC address of a network interface.
#pragma once

struct GatherContext;
struct udev;

// The libudev context of the run (created at start-up) and the monitor's descriptor.
extern struct udev* udev;
extern int udevfd;

int udevEnumerate(GatherContext* ctx);
int udevCheckDeviceAdd(GatherContext* ctx, const char* name, const char* path, const char* address);
// Opens the udev monitor; returns its descriptor or -1.
int udevOpenMonitor();
// Releases the monitor and the context.
void udevRelease();
int GetMacAddress(const char* interfaceName, char* output);
