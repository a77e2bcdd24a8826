// The router's own hardware as the daemon uses it: the HPUE LEDs, the GPS fix register and the
// names of the modem's and the LAN's network interfaces.
#pragma once

class Board {
 public:
  virtual ~Board() = default;

  // Lights the blue HPUE LED when `high` (transmitting at high power), else the green one; the LED
  // that goes dark is switched first. True when every switch succeeded.
  virtual bool SetHpueLeds(bool high) = 0;
  // Sets the fix register the GPS LED follows: 2 with a position, 0 without. True on success.
  virtual bool SetFixRegister(bool fix) = 0;

  // The modem's network interface (its counters, its IPv4 address, its MAC address).
  virtual const char* WwanInterface() const = 0;
  // The LAN interface whose MAC address the status reports.
  virtual const char* LanInterface() const = 0;
};
