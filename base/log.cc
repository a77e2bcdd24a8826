#include "base/log.h"

#include <syslog.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include "base/atomic_file.h"
#include "base/console_text.h"
#include "base/paths.h"

namespace {

char lastLogMessage[256];
// The main loop and the Influx poster both log: the repeat check and the write go together.
std::mutex log_mutex;

// True when the message repeats the last one; otherwise remembers it. Only as much as the buffer
// keeps (255 characters) is compared, so a long message repeated is still recognised.
bool IsRepeat(const char* message) {
  if (strncmp(message, lastLogMessage, sizeof lastLogMessage - 1) == 0) return true;
  snprintf(lastLogMessage, sizeof lastLogMessage, "%s", message);
  return false;
}

// Messages carry text from outside (modem replies, network names, server replies): their control
// bytes are escaped so that they can neither drive the terminal nor forge a line. A line feed that
// ends the message is the daemon's own and stays as it is.
void WriteLine(FILE* stream, int priority, const char* message) {
  size_t length = strlen(message);
  const bool endsLine = length > 0 && message[length - 1] == '\n';
  if (endsLine) --length;
  WriteEscaped(stream, message, length);
  if (endsLine) fputc('\n', stream);
  fputc('\n', stream);
  fflush(stream);
  char escaped[1024];
  EscapeControlBytes(message, length, escaped, sizeof escaped);
  syslog(LOG_DAEMON | priority, "StatusGather: %s\n", escaped);
}

}  // namespace

void ResetLogRepeat() {
  std::lock_guard<std::mutex> lock(log_mutex);
  lastLogMessage[0] = '\0';
}

void LogMessage(const char* message) {
  std::lock_guard<std::mutex> lock(log_mutex);
  if (IsRepeat(message)) return;
  WriteLine(stdout, LOG_NOTICE, message);
}

void LogMessageError(const char* message) {
  std::lock_guard<std::mutex> lock(log_mutex);
  if (IsRepeat(message)) return;
  WriteLine(stderr, LOG_ERR, message);
}

namespace {

void WritePostState(const char* text, int n) {
  if (n < 0) return;
  if (n >= 256) n = 255;
  const char* path = RouterPathOf(RouterPath::kPostState);
  if (!ReplaceFileAtomically(path, text, static_cast<size_t>(n))) {
    fprintf(stderr, "Failed to open post status: %s\n", strerror(errno));
  }
}

}  // namespace

void ReportPostStatus(const char* state) {
  char text[256];
  int n = snprintf(text, sizeof text, "{\"state\": \"%s\", \"time\": %" PRId64 "}", state,
                   static_cast<int64_t>(time(nullptr)));
  WritePostState(text, n);
}

void ReportPostStatusWithBacklog(const char* state, int64_t waiting, int64_t lastSuccess) {
  char text[256];
  int n = snprintf(text, sizeof text,
                   "{\"state\": \"%s\", \"time\": %" PRId64 ", \"waiting\": %" PRId64
                   ", \"lastSuccess\": %" PRId64 "}",
                   state, static_cast<int64_t>(time(nullptr)), waiting, lastSuccess);
  WritePostState(text, n);
}
