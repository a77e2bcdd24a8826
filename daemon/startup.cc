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
#include "config/daemon_config.h"
#include "daemon/daemon_options.h"
#include "exec/program_run.h"
#include "status/status_table.h"

namespace {

constexpr int kVersionMajor = 0;
constexpr int kVersionMinor = 1;

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

}  // namespace

bool TakeInstanceLock(InstanceLock* lock) {
  const char* path = RouterPathOf(RouterPath::kInstanceLock);
  long holder = 0;
  switch (lock->Take(path, &holder)) {
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

void PrintUsage(const char* program) {
  fprintf(stderr, "%s [-f <file>] [-j file] [-c] [-i] [-l] [-d] [-p <seconds>]\n  VERSION %d.%d\n",
          program, kVersionMajor, kVersionMinor);
}

bool IsHelpRequest(int argc, char* const argv[]) {
  if (argc < 2) return false;
  const char* first = argv[1];
  return strcmp(first, "-h") == 0 || strcmp(first, "-?") == 0 || strcmp(first, "--help") == 0;
}

int OpenGpsSocket(const char* path) {
  const int sock = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (sock < 0) {
    LogMessageError("Unable to create local socket");
    return -1;
  }
  struct sockaddr_un address;
  memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  unlink(path);
  // A path that does not fit would bind a different, cut-off name, so it counts as a failure.
  bool bound = strlen(path) < sizeof address.sun_path;
  if (bound) {
    strncpy(address.sun_path, path, sizeof address.sun_path - 1);
    bound = bind(sock, reinterpret_cast<struct sockaddr*>(&address), sizeof address) == 0;
  }
  if (!bound) {
    LogMessageError("Could not bind GPS socket");
    close(sock);
    return -1;
  }
  printf("GPS socket created: %d\n", sock);
  return sock;
}

OptionsResult ParseOptions(int argc, char* argv[], DaemonOptions* options, DaemonConfig* config) {
  int option;
  while ((option = getopt(argc, argv, "sicrj:f:p:ld?h")) != -1) {
    switch (option) {
      case 'f':
        if (!KeepPath('f', optarg, options->csvPath)) return OptionsResult::kRefused;
        PrintOutsideText(stdout, "CSV Filename is: %s\n", optarg);
        options->csv = true;
        break;
      case 'j':
        if (!KeepPath('j', optarg, options->jsonPath)) return OptionsResult::kRefused;
        PrintOutsideText(stdout, "JSON filename is: %s\n", optarg);
        options->json = true;
        break;
      case 'p':
        config->period = static_cast<int64_t>(atoi(optarg));
        printf("Influx Period is: %lld seconds\n", static_cast<long long>(config->period));
        break;
      case 'c':
        options->printValues = true;
        break;
      case 'i':
        options->influx = true;
        break;
      case 'd':
        options->debug = true;
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

void ReadSerialNumber(StatusTable& table, DaemonConfig* config, const char* path, bool debug) {
  // Its folder is writable by other programs: a link or a FIFO there counts as no file.
  const long n = ReadRegularFileInto(path, config->serialNumber, 127);
  if (n < 2) {
    LogMessageError("Failed to locate system serial number");
    return;
  }
  if (config->serialNumber[n - 1] == '\n') config->serialNumber[n - 1] = '\0';
  if (debug) PrintOutsideText(stdout, "Serial Number: '%s'\n", config->serialNumber);
  table.UpdateFixed(kSn_s, config->serialNumber);
}

void ReadLinuxVersion(char* version, const StopEvent* stop) {
  char program[] = "uname";
  char option[] = "-r";
  char* const args[] = {program, option, nullptr};
  int32_t n = RunProgram({RouterPathOf(RouterPath::kUname), args, 1000, stop}, version,
                         kLinuxVersionSize - 1)
                  .length;
  if (n <= 0) {
    LogMessageError("Determining Linux version failed");
    return;
  }
  if (version[n - 1] == '\n') version[n - 1] = '\0';
}

void ReadBuildInfo(StatusTable& table, const char* path, char (&systemName)[kSystemNameSize]) {
  snprintf(systemName, sizeof systemName, "%s", "Unknown");
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
      table.UpdateFixed(kSwVersion_s, version);
    }
    if (board != nullptr && CutAtNewline(board)) {
      board += strlen("Target board: ");
      PrintOutsideText(stdout, "Target Board: '%s'\n", board);
      if (strcmp(board, "kx") == 0) {
        snprintf(systemName, sizeof systemName, "%s", "KX");
      } else if (strcmp(board, "lu") == 0 || strcmp(board, "lumora") == 0) {
        snprintf(systemName, sizeof systemName, "%s", "Lumora");
      }
    }
  }
  strncat(systemName, "-ZR47", sizeof systemName - strlen(systemName) - 1);
  PrintOutsideText(stdout, "System Name: '%s'\n", systemName);
  table.UpdateFixed(kSystemName_s, systemName);
}
