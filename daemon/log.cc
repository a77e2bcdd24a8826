#include "daemon/log.h"

#include <syslog.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "daemon/atomic_file.h"
#include "daemon/paths.h"

namespace {

char lastLogMessage[256];

// True when the message repeats the last one; otherwise remembers it. Only as much as the buffer
// keeps (255 characters) is compared, so a long message repeated is still recognised.
bool IsRepeat(const char* message) {
  if (strncmp(message, lastLogMessage, sizeof lastLogMessage - 1) == 0) return true;
  snprintf(lastLogMessage, sizeof lastLogMessage, "%s", message);
  return false;
}

}  // namespace

void ResetLogRepeat() { lastLogMessage[0] = '\0'; }

void LogMessage(const char* message) {
  if (IsRepeat(message)) return;
  printf("%s\n", message);
  fflush(stdout);
  syslog(LOG_DAEMON | LOG_NOTICE, "StatusGather: %s\n", message);
}

void LogMessageError(const char* message) {
  if (IsRepeat(message)) return;
  fprintf(stderr, "%s\n", message);
  syslog(LOG_DAEMON | LOG_ERR, "StatusGather: %s\n", message);
}

void ReportPostStatus(const char* state) {
  char text[256];
  int n = snprintf(text, sizeof text, "{\"state\": \"%s\", \"time\": %" PRId64 "}", state,
                   static_cast<int64_t>(time(nullptr)));
  if (n < 0) return;
  if (static_cast<size_t>(n) >= sizeof text) n = sizeof text - 1;
  const char* path = RouterPathOf(RouterPath::kPostState);
  if (!ReplaceFileAtomically(path, text, static_cast<size_t>(n))) {
    fprintf(stderr, "Failed to open post status: %s\n", strerror(errno));
  }
}
