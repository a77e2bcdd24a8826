// The start-up steps of the daemon: help and usage, the configuration, the GPS socket, the command
// line and the unit's identity values.
#pragma once

#include <cstddef>

#include "daemon/daemon_options.h"

struct GatherConfig;
class InstanceLock;
class StatusTable;
class StopEvent;
struct uci_context;

// Size of the system name: "Unknown-ZR47" and the longer board names fit.
constexpr size_t kSystemNameSize = 16;

// Usage text on standard error.
void PrintUsage(const char* program);

// True when the first argument is exactly "-h", "-?" or "--help".
bool IsHelpRequest(int argc, char* const argv[]);

// Takes the instance lock for the run into `lock`. False (after a message) when another copy runs
// or the lock cannot be taken; a missing folder is left to the steps that need it.
bool TakeInstanceLock(InstanceLock* lock);

// Reads the configuration options through `uci` into `config`; numbers that are missing or 0 stay
// 0 here (ApplyConfigDefaults fills them in).
void ReadConfiguration(struct uci_context* uci, GatherConfig* config);
// period 0 -> 60, poll 0 -> 15; negative values stay.
void ApplyConfigDefaults(GatherConfig* config);

// Creates the GPS datagram socket and binds it to `path`, replacing any file there. The socket, or
// -1 after logging the failure.
int OpenGpsSocket(const char* path);

enum class OptionsResult { kRun, kUsage, kRefused };

// Applies the command-line options to `options` and `config`. kUsage for -h, -?, an unknown option
// or a missing argument; kRefused (after a message on standard error) for a -f or -j path that
// does not fit its field.
OptionsResult ParseOptions(int argc, char* argv[], DaemonOptions* options, GatherConfig* config);

// The unit's serial number from `path` into config->serialNumber and Sn_s; with `debug` it is
// printed.
void ReadSerialNumber(StatusTable& table, GatherConfig* config, const char* path, bool debug);
// The kernel release (`uname -r`) into config->linuxVersion; a signalled `stop` cuts it short.
void ReadLinuxVersion(GatherConfig* config, const StopEvent* stop);
// Software version and board from the build information file at `path`: SwVersion_s, the system
// name (into `systemName`) and SystemName_s.
void ReadBuildInfo(StatusTable& table, const char* path, char (&systemName)[kSystemNameSize]);
