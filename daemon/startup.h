// The start-up steps of the daemon: help and usage, the configuration, the GPS socket, the command
// line and the unit's identity values.
#pragma once

#include <cstddef>

#include "daemon/daemon_options.h"

struct DaemonConfig;
class InstanceLock;
class StatusTable;
class StopEvent;

// Size of the system name: "Unknown-ZR47" and the longer board names fit.
constexpr size_t kSystemNameSize = 16;
// Size of the kernel release text.
constexpr size_t kLinuxVersionSize = 128;

// Usage text on standard error.
void PrintUsage(const char* program);

// True when the first argument is exactly "-h", "-?" or "--help".
bool IsHelpRequest(int argc, char* const argv[]);

// Takes the instance lock for the run into `lock`. False (after a message) when another copy runs
// or the lock cannot be taken; a missing folder is left to the steps that need it.
bool TakeInstanceLock(InstanceLock* lock);

// Creates the GPS datagram socket and binds it to `path`, replacing any file there. The socket, or
// -1 after logging the failure.
int OpenGpsSocket(const char* path);

enum class OptionsResult { kRun, kUsage, kRefused };

// Applies the command-line options to `options` and `config`. kUsage for -h, -?, an unknown option
// or a missing argument; kRefused (after a message on standard error) for a -f or -j path that
// does not fit its field.
OptionsResult ParseOptions(int argc, char* argv[], DaemonOptions* options, DaemonConfig* config);

// The unit's serial number from `path` into config->serialNumber and Sn_s; with `debug` it is
// printed.
void ReadSerialNumber(StatusTable& table, DaemonConfig* config, const char* path, bool debug);
// The kernel release (`uname -r`) into `version` (kLinuxVersionSize bytes); a signalled `stop`
// cuts it short.
void ReadLinuxVersion(char* version, const StopEvent* stop);
// Software version and board from the build information file at `path`: SwVersion_s, the system
// name (into `systemName`) and SystemName_s.
void ReadBuildInfo(StatusTable& table, const char* path, char (&systemName)[kSystemNameSize]);
