// Start-up of the daemon: help check, signals, configuration, the GPS socket and threads, the
// command line, the status table, the unit's identity values and the modem's devices.
#pragma once

#include <cstddef>

struct GatherConfig;
struct GatherContext;
struct JsonWriter;
struct ModemPass;
struct ModemSession;
class StopEvent;

// Size of the -f and -j path fields; the argument may have at most kPathArgSize - 2 characters.
constexpr size_t kPathArgSize = 128;

// Usage text on standard error.
void PrintUsage(const char* program);

// True when the first argument is exactly "-h", "-?" or "--help".
bool IsHelpRequest(int argc, char* const argv[]);

// Reads the configuration options through ctx->uci into `config` and ctx->gpsdTid; numbers that
// are missing or 0 stay 0 here (ApplyConfigDefaults fills them in).
void ReadConfiguration(GatherContext* ctx, GatherConfig* config);
// period 0 -> 60, poll 0 -> 15; negative values stay.
void ApplyConfigDefaults(GatherConfig* config);

// Creates the GPS datagram socket into ctx->gpsSocket and binds it to `path`, replacing any file
// there. 1 on success; 0 after logging the failure.
int OpenGpsSocket(GatherContext* ctx, const char* path);

enum class OptionsResult { kRun, kUsage, kRefused };

// Applies the command-line options to ctx, config and csvPath (kPathArgSize bytes). kUsage for
// -h, -?, an unknown option or a missing argument; kRefused (after a message on standard error)
// for a -f or -j path that does not fit its field.
OptionsResult ParseOptions(int argc, char* argv[], GatherContext* ctx, GatherConfig* config,
                           char* csvPath);

// The unit's serial number from `path` into config->serialNumber and Sn_s.
void ReadSerialNumber(GatherContext* ctx, GatherConfig* config, const char* path);
// The kernel release (`uname -r`) into config->linuxVersion; a signalled `stop` cuts it short.
void ReadLinuxVersion(GatherConfig* config, const StopEvent* stop);
// Software version and board from the build information file at `path`: SwVersion_s,
// ctx->systemName and SystemName_s.
void ReadBuildInfo(GatherContext* ctx, const char* path);

// Runs the start-up steps up to the main loop, with `modem` (fresh) as the context's modem session
// and `pass` (built around the context's table and `modem`) as what the modem steps work on;
// with -j it starts the snapshot writer thread on `jsonWriter`. SIGINT signals `stop` from then
// on, and the context carries it to the threads. Returns -1 when the main loop should run, else
// the exit status of the process.
int RunStartup(int argc, char* argv[], GatherContext* ctx, GatherConfig* config,
               ModemSession* modem, ModemPass* pass, char* csvPath, JsonWriter* jsonWriter,
               StopEvent* stop);
