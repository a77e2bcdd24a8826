// The requests the modem steps make of ModemManager (listing, modem and bearer properties, an AT
// command, the reset) with typed answers, whichever way they travel (the mmcli client, or
// ModemManager's D-Bus API).
#pragma once

#include <cstdint>

constexpr int kModemReplySize = 2048;    // an AT answer and its terminator fit in this
constexpr int kPropertyValueSize = 128;  // at most 127 characters of a property are kept
constexpr int kListedNumberSize = 63;    // the modem's number as listed: 62 characters at most

// An AT answer is kept to its first kAtAnswerLimit characters, line ends at such a cut dropped.
constexpr int kAtAnswerLimit = 1012;

// How a request ended.
enum class MmAnswer : uint8_t {
  kAnswered,  // ModemManager answered; the record holds what it said
  kRefused,   // ModemManager answered with an error (no such modem or bearer, the modem's error)
  kNone,      // no answer: could not start, timed out, stopped, no bus or no ModemManager
};

// The first listed modem.
struct ModemListing {
  bool found;  // a modem is listed and its number is a whole decimal number in 0..INT32_MAX
  int32_t index;
  char number[kListedNumberSize];  // the number as its object path ends
};

// A text property: `present` when ModemManager reported the property at all (a value it has not
// got reads as empty). Values hold at most 127 characters, escaped C-style (\n, \t, \\, \ooo).
struct PropertyText {
  bool present;
  char text[kPropertyValueSize];
};

// The modem properties the daemon reads.
struct ModemProperties {
  PropertyText revision;          // the firmware version
  PropertyText ownNumber;         // the first own number
  PropertyText signalQuality;     // percent, as a decimal number
  PropertyText imei;              // present only with the 3GPP interface
  PropertyText initialBearerApn;  // the initial EPS bearer's APN, with the 3GPP interface
  PropertyText firstBearer;       // the object path of the first bearer
};

// The bearer property the daemon reads.
struct BearerProperties {
  PropertyText apn;
};

// The answer to an AT command.
struct AtReply {
  // ModemManager refused the command because it passes no AT commands at all (not in debug mode
  // and not built to allow them): each AT reading stays empty until that changes.
  bool forbidden;
  int32_t length;              // characters of the answer in `text`
  char text[kModemReplySize];  // the modem's answer, terminated
};

// Every request is bounded by `totalLimitMs` and ends at once when the link's stop event is
// signalled. A record is filled only on kAnswered (an AtReply's `forbidden` also on kRefused).
// Requests may come from two threads (the status cycle, and the watchdog's reset on the snapshot
// writer's thread).
class ModemManagerLink {
 public:
  virtual ~ModemManagerLink() = default;

  // How the request trace names the way: the client's path, or "dbus".
  virtual const char* TraceName() const = 0;

  // The first listed modem; found false when there is none or no answer.
  virtual void List(int32_t totalLimitMs, ModemListing* listing) = 0;
  virtual MmAnswer ReadModem(int32_t index, int32_t totalLimitMs, ModemProperties* properties) = 0;
  virtual MmAnswer ReadBearer(int32_t index, int32_t totalLimitMs, BearerProperties* bearer) = 0;
  // `command` as the modem takes it, without a line end ("AT+CSQ").
  virtual MmAnswer Command(int32_t index, const char* command, int32_t totalLimitMs,
                           AtReply* reply) = 0;
  virtual MmAnswer Reset(int32_t index, int32_t totalLimitMs) = 0;
};

// Keeps `text` as a reported value (at most 127 characters). A value "--" reads as none: the
// client prints a missing value so, and the two ways must agree.
void KeepProperty(PropertyText* property, const char* text);

// A modem's number as its object path ends: a whole decimal number in 0..INT32_MAX.
bool ReadModemNumber(const char* token, int32_t* index);

// The number after "/Bearer/" in the first bearer's object path (read like atoi); -1 when there is
// no bearer or its path holds no "/Bearer/".
int32_t BearerIndexOf(const PropertyText& firstBearer);

// Whether the properties show the modem itself answering: an IMEI, a firmware version or a signal
// quality above 0 (ModemManager shows 0 while it has no reading).
bool PropertiesShowModemAlive(const ModemProperties& properties);
