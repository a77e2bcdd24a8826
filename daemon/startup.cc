#include "daemon/startup.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/console_text.h"
#include "base/instance_lock.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/plain_file.h"
#include "base/signals.h"
#include "config/config_lookup.h"
#include "config/influx_wire.h"
#include "daemon/daemon_context.h"
#include "exec/zel_exec.h"
#include "location/gps_listener.h"
#include "modem/discovery.h"
#include "modem/modem_pass.h"
#include "modem/modem_session.h"
#include "report/influx_post.h"
#include "report/json_snapshot.h"
#include "status/status_table.h"

namespace {

constexpr int kVersionMajor = 0;
constexpr int kVersionMinor = 1;

// Configuration text options, in the order they are read.
struct TextOption {
  const char* key;
  size_t offset;
};

const TextOption kTextOptions[] = {
    {"zel.status_gather.influx_url", offsetof(GatherConfig, influxUrl)},
    {"zel.status_gather.influx_token", offsetof(GatherConfig, influxToken)},
    {"zel.status_gather.influx_org", offsetof(GatherConfig, influxOrg)},
    {"zel.status_gather.influx_bucket", offsetof(GatherConfig, influxBucket)},
    {"zel.status_gather.database", offsetof(GatherConfig, database)},
    {"zel.status_gather.schema", offsetof(GatherConfig, schema)},
    {"zel.status_gather.userid", offsetof(GatherConfig, userId)},
    {"zel.status_gather.password", offsetof(GatherConfig, password)},
    {"zel.status_gather.account", offsetof(GatherConfig, account)},
    {"zel.status_gather.sub_account", offsetof(GatherConfig, subAccount)},
    {"zel.status_gather.instance", offsetof(GatherConfig, instance)},
    {"zel.status_gather.influx_ca_file", offsetof(GatherConfig, influxCaFile)},
};

// A number option read as text into a cleared 10-byte buffer; 0 when missing.
int64_t LookupNumber(const char* key, GatherContext* ctx, struct uci_ptr* ptr) {
  char text[10];
  memset(text, 0, sizeof text);
  lookupValue(key, text, ctx->uci, ptr, sizeof text);
  return static_cast<int64_t>(atoi(text));
}

// Copies a -f or -j argument into its field; false (after a message) when it does not fit.
bool KeepPath(char option, const char* argument, char* field) {
  if (strlen(argument) > kPathArgSize - 2) {
    PrintOutsideText(stderr, "Path of -%c is longer than %zu characters: %s\n", option,
                     kPathArgSize - 2, argument);
    return false;
  }
  snprintf(field, kPathArgSize, "%s", argument);
  return true;
}

// Cuts `line` at its newline; false when none follows.
bool CutAtNewline(char* line) {
  char* newline = strchr(line, '\n');
  if (newline == nullptr) return false;
  *newline = '\0';
  return true;
}

// Held for the whole run. False (after a message) when another copy runs or the lock cannot be
// taken; a missing folder is left to the steps that need it, which report it.
bool TakeInstanceLock() {
  static InstanceLock lock;
  const char* path = RouterPathOf(RouterPath::kInstanceLock);
  long holder = 0;
  switch (lock.Take(path, &holder)) {
    case LockResult::kHeld:
    case LockResult::kNoFolder:
      return true;
    case LockResult::kTaken:
      if (holder > 0) {
        fprintf(stderr, "modem-statusd is already running (pid %ld); this copy exits\n", holder);
      } else {
        fprintf(stderr, "modem-statusd is already running; this copy exits\n");
      }
      return false;
    case LockResult::kLinked:
      fprintf(stderr,
              "Cannot take the lock %s: it is a hard link to another file, left untouched; "
              "remove it\n",
              path);
      return false;
    case LockResult::kUnavailable:
      break;
  }
  fprintf(stderr, "Cannot take the lock %s: %s\n", path, strerror(errno));
  return false;
}

// influx_batch and influx_compress; a value out of their range is said on the console once.
void ReadInfluxWireOptions(GatherContext* ctx, GatherConfig* config, struct uci_ptr* ptr) {
  const int64_t batch = LookupNumber("zel.status_gather.influx_batch", ctx, ptr);
  config->influxBatch = BoundInfluxBatch(batch);
  if (batch > kMostInfluxBatch) {
    printf("influx_batch %lld is more than %lld: using %lld\n", static_cast<long long>(batch),
           static_cast<long long>(kMostInfluxBatch), static_cast<long long>(config->influxBatch));
  }
  char text[16] = "";
  lookupValue("zel.status_gather.influx_compress", text, ctx->uci, ptr, sizeof text);
  const InfluxCompress compress = ParseInfluxCompress(text);
  config->influxGzip = compress == InfluxCompress::kNone ? 0 : 1;
  if (compress == InfluxCompress::kUnknown) {
    PrintOutsideText(stdout, "influx_compress '%s' is not 'gzip' or 'none': using gzip\n", text);
  }
}

}  // namespace

void PrintUsage(const char* program) {
  fprintf(stderr, "%s [-f <file>] [-j file] [-c] [-i] [-l] [-d] [-p <seconds>]\n  VERSION %d.%d\n",
          program, kVersionMajor, kVersionMinor);
}

bool IsHelpRequest(int argc, char* const argv[]) {
  if (argc < 2) return false;
  const char* first = argv[1];
  return strcmp(first, "-h") == 0 || strcmp(first, "-?") == 0 || strcmp(first, "--help") == 0;
}

void ReadConfiguration(GatherContext* ctx, GatherConfig* config) {
  struct uci_ptr ptr = ctx->uciPtr;
  for (const TextOption& option : kTextOptions) {
    char* field = reinterpret_cast<char*>(config) + option.offset;
    lookupValue(option.key, field, ctx->uci, &ptr, 128);
  }
  config->period = LookupNumber("zel.status_gather.period", ctx, &ptr);
  config->poll = LookupNumber("zel.status_gather.poll", ctx, &ptr);
  config->backlogRecords = LookupNumber("zel.status_gather.backlog_records", ctx, &ptr);
  config->backlogKb = LookupNumber("zel.status_gather.backlog_kb", ctx, &ptr);
  ReadInfluxWireOptions(ctx, config, &ptr);
  if (!lookupValue("zel_gpsd.gpsd.tid", ctx->gpsdTid, ctx->uci, &ptr, sizeof ctx->gpsdTid)) {
    lookupValue("zel_gpsd.@gpsd[0].tid", ctx->gpsdTid, ctx->uci, &ptr, sizeof ctx->gpsdTid);
  }
}

void ApplyConfigDefaults(GatherConfig* config) {
  if (config->period == 0) config->period = 60;
  if (config->poll == 0) config->poll = 15;
}

int OpenGpsSocket(GatherContext* ctx, const char* path) {
  ctx->gpsSocket = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (ctx->gpsSocket < 0) {
    LogMessageError("Unable to create local socket");
    return 0;
  }
  struct sockaddr_un address;
  memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  unlink(path);
  // A path that does not fit would bind a different, cut-off name, so it counts as a failure.
  bool bound = strlen(path) < sizeof address.sun_path;
  if (bound) {
    strncpy(address.sun_path, path, sizeof address.sun_path - 1);
    bound = bind(ctx->gpsSocket, reinterpret_cast<struct sockaddr*>(&address), sizeof address) == 0;
  }
  if (!bound) {
    LogMessageError("Could not bind GPS socket");
    close(ctx->gpsSocket);
    ctx->gpsSocket = -1;
    return 0;
  }
  printf("GPS socket created: %d\n", ctx->gpsSocket);
  return 1;
}

OptionsResult ParseOptions(int argc, char* argv[], GatherContext* ctx, GatherConfig* config,
                           char* csvPath) {
  int option;
  while ((option = getopt(argc, argv, "sicrj:f:p:ld?h")) != -1) {
    switch (option) {
      case 'f':
        if (!KeepPath('f', optarg, csvPath)) return OptionsResult::kRefused;
        PrintOutsideText(stdout, "CSV Filename is: %s\n", optarg);
        ctx->csvEnabled = 1;
        break;
      case 'j':
        if (!KeepPath('j', optarg, ctx->jsonFile)) return OptionsResult::kRefused;
        PrintOutsideText(stdout, "JSON filename is: %s\n", optarg);
        ctx->jsonEnabled = 1;
        break;
      case 'p':
        config->period = static_cast<int64_t>(atoi(optarg));
        printf("Influx Period is: %lld seconds\n", static_cast<long long>(config->period));
        break;
      case 'c':
        ctx->printValues = 1;
        break;
      case 'i':
        ctx->influxEnabled = 1;
        break;
      case 'd':
        ctx->debug = 1;
        break;
      case 's':
      case 'r':
      case 'l':
        break;
      default:  // 'h', '?', an unknown option or a missing argument
        return OptionsResult::kUsage;
    }
  }
  return OptionsResult::kRun;
}

void ReadSerialNumber(GatherContext* ctx, GatherConfig* config, const char* path) {
  // Its folder is writable by other programs: a link or a FIFO there counts as no file.
  const long n = ReadRegularFileInto(path, config->serialNumber, 127);
  if (n < 2) {
    LogMessageError("Failed to locate system serial number");
    return;
  }
  if (config->serialNumber[n - 1] == '\n') config->serialNumber[n - 1] = '\0';
  if (ctx->debug) PrintOutsideText(stdout, "Serial Number: '%s'\n", config->serialNumber);
  ctx->statusTable->UpdateFixed(kSn_s, config->serialNumber);
}

void ReadLinuxVersion(GatherConfig* config, const StopEvent* stop) {
  char program[] = "uname";
  char option[] = "-r";
  char* const args[] = {program, option, nullptr};
  int32_t n = Zel_Exec(RouterPathOf(RouterPath::kUname), args, 1000, 100, config->linuxVersion,
                       127, stop);
  if (n <= 0) {
    LogMessageError("Determining Linux version failed");
    return;
  }
  if (config->linuxVersion[n - 1] == '\n') config->linuxVersion[n - 1] = '\0';
}

void ReadBuildInfo(GatherContext* ctx, const char* path) {
  snprintf(ctx->systemName, sizeof ctx->systemName, "%s", "Unknown");
  FILE* file = fopen(path, "re");
  if (file == nullptr) {
    LogMessageError("Failed to open KX build info file");
    return;
  }
  char buffer[1024];
  memset(buffer, 0, sizeof buffer);
  size_t n = fread(buffer, 1, sizeof buffer - 1, file);
  fclose(file);
  if (n > 0) {
    // Both lines are found before either is cut, so their order in the file does not matter.
    char* version = strstr(buffer, "Version: ");
    char* board = strstr(buffer, "Target board: ");
    if (version != nullptr && CutAtNewline(version)) {
      version += strlen("Version: ");
      PrintOutsideText(stdout, "Software Version: '%s'\n", version);
      ctx->statusTable->UpdateFixed(kSwVersion_s, version);
    }
    if (board != nullptr && CutAtNewline(board)) {
      board += strlen("Target board: ");
      PrintOutsideText(stdout, "Target Board: '%s'\n", board);
      if (strcmp(board, "kx") == 0) {
        snprintf(ctx->systemName, sizeof ctx->systemName, "%s", "KX");
      } else if (strcmp(board, "lu") == 0 || strcmp(board, "lumora") == 0) {
        snprintf(ctx->systemName, sizeof ctx->systemName, "%s", "Lumora");
      }
    }
  }
  strncat(ctx->systemName, "-ZR47", sizeof ctx->systemName - strlen(ctx->systemName) - 1);
  PrintOutsideText(stdout, "System Name: '%s'\n", ctx->systemName);
  ctx->statusTable->UpdateFixed(kSystemName_s, ctx->systemName);
}

int RunStartup(int argc, char* argv[], GatherContext* ctx, GatherConfig* config,
               ModemSession* modem, ModemPass* pass, char* csvPath, JsonWriter* jsonWriter,
               StopEvent* stop) {
  if (IsHelpRequest(argc, argv)) {
    PrintUsage(argv[0]);
    return 0;
  }
  ReloadPathRoot();
  // What the daemon creates is readable by others and writable by root only, whatever umask it
  // inherited: the snapshot 0644, the GPS socket not writable by other users.
  umask(022);
  if (!TakeInstanceLock()) return 1;
  InstallInterruptHandler(stop);

  memset(config, 0, sizeof *config);
  StatusTable* table = ctx->statusTable;
  *ctx = GatherContext{};
  ctx->statusTable = table;
  ctx->modem = modem;
  ctx->pass = pass;
  ctx->stop = stop;
  memset(csvPath, 0, kPathArgSize);

  ctx->uci = uci_alloc_context();
  if (ctx->uci == nullptr) {
    LogMessageError("Failed to allocate UCI context");
    return 1;
  }
  uci_set_confdir(ctx->uci, RouterPathOf(RouterPath::kUciConfigDir));
  ReadConfiguration(ctx, config);

  if (config->influxUrl[0] != '\0') {
    ctx->influxEnabled = 1;
    ReportPostStatus("Starting");
  } else {
    ReportPostStatus("Disabled");
  }
  ApplyConfigDefaults(config);

  // Datagrams that arrive before the listener runs wait in the socket's queue.
  if (!OpenGpsSocket(ctx, RouterPathOf(RouterPath::kGpsSocket))) return 1;

  switch (ParseOptions(argc, argv, ctx, config, csvPath)) {
    case OptionsResult::kUsage:
      PrintUsage(argv[0]);
      return 0;
    case OptionsResult::kRefused:
      return 1;
    case OptionsResult::kRun:
      break;
  }

  LogMessage("Daemon starting");
  if (ctx->influxEnabled) InfluxGlobalInit();

  ctx->config = config;
  pass->uci = ctx->uci;
  pass->uciPtr = &ctx->uciPtr;
  pass->printValues = ctx->printValues != 0;
  ctx->statusTable->SetEcho(ctx->printValues != 0);
  ctx->gps.socket = ctx->gpsSocket;
  ctx->gps.table = ctx->statusTable;
  ctx->gps.stop = ctx->stop;
  ctx->gps.debug = ctx->debug != 0;
  if (StartThreadWithDaemonSignalsBlocked(&ctx->gpsThread, RunGpsListenerThread, &ctx->gps) != 0) {
    LogMessageError("Could not start GPS listener thread");
    return 1;
  }

  ReadSerialNumber(ctx, config, RouterPathOf(RouterPath::kSerialNumber));
  ReadLinuxVersion(config, ctx->stop);
  if (ctx->debug) PrintOutsideText(stdout, "Linux Version: '%s'\n", config->linuxVersion);
  ReadBuildInfo(ctx, RouterPathOf(RouterPath::kBuildInfo));

  if (!udevCreateContext()) {
    LogMessageError("Can't create udev");
    exit(1);
  }
  udevEnumerate(*ctx->pass);
  udevOpenMonitor();

  jsonWriter->debug = ctx->debug != 0;
  if (ctx->jsonEnabled &&
      StartThreadWithDaemonSignalsBlocked(&ctx->jsonThread, RunJsonWriterThread, jsonWriter) != 0) {
    LogMessageError("Could not start JSON writer thread");
    return 1;
  }
  InstallLinkSignalHandlers();
  return -1;
}
