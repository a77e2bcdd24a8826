#include "modem/channel.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/console_text.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/signals.h"
#include "exec/zel_exec.h"
#include "modem/mm_dbus.h"
#include "modem/modem_pass.h"
#include "modem/modem_session.h"
#include "status/status_table.h"

namespace {

constexpr int kClientOutputSize = 1024;
constexpr int kListLimitMs = 2000;
constexpr int kListIdleMs = 100;
constexpr int kMaxModemIndex = 1000;
// A reply line of the client starts with these many characters before the answer ("response: ").
constexpr int kResponsePrefix = 10;
constexpr int kListTokens = 15;
constexpr int kTokenSize = 63;  // 62 characters and the terminator

char* Arg(const char* text) { return const_cast<char*>(text); }

bool IndexTooLarge(const ModemPass& pass) {
  if (pass.session.modemIndex < kMaxModemIndex) return false;
  fprintf(stderr, "modem_Send error: Modem index too large! - %d\n", pass.session.modemIndex);
  return true;
}

// Runs mmcli -m <index> <argument> under the context's command limits into out; over D-Bus the
// same request (an AT command or the reset) answers with the same text.
int RunModemCommand(ModemPass& pass, const char* argument, char* out) {
  char index_text[6];
  snprintf(index_text, sizeof index_text, "%d", pass.session.modemIndex);
  const char* mmcli = RouterPathOf(RouterPath::kMmcli);
  PrintOutsideText(stdout, "Sending command: %s %s %s %s\n", pass.bus != nullptr ? "dbus" : mmcli,
                   "-m", index_text, argument);
  fflush(stdout);
  if (pass.bus != nullptr) {
    static constexpr char kCommandFlag[] = "--command=";
    if (strncmp(argument, kCommandFlag, sizeof kCommandFlag - 1) == 0) {
      return pass.bus->Command(pass.session.modemIndex, argument + sizeof kCommandFlag - 1,
                               pass.session.cmdTotalMs, InterruptStopEvent(), out,
                               kClientOutputSize - 1);
    }
    return pass.bus->Reset(pass.session.modemIndex, pass.session.cmdTotalMs, InterruptStopEvent(),
                           out, kClientOutputSize - 1);
  }
  char* argv[] = {Arg("mmcli"), Arg("-m"), index_text, Arg(argument), nullptr};
  return Zel_Exec(mmcli, argv, pass.session.cmdTotalMs, pass.session.cmdIdleMs, out,
                  kClientOutputSize - 1);
}

// ModemManager passes AT commands only when it runs in debug mode or was built to allow them over
// D-Bus; otherwise every one comes back with this error (from mmcli and from Modem.Command alike),
// and each AT reading stays empty. Said once per run, with the fix.
void ReportAtRefusal(ModemSession* session, const char* output) {
  if (session->atRefusalReported != 0) return;
  if (strstr(output, "ModemManager1.Error.Core.Unauthorized") == nullptr) return;
  session->atRefusalReported = 1;
  LogMessageError(
      "ModemManager refuses AT commands, so every value read with them stays empty: run "
      "ModemManager at debug log level (--debug) or build it with AT commands over D-Bus "
      "(at_command_via_dbus)");
}

// A whole decimal number in 0..INT32_MAX; anything else is no modem number.
bool ParseIndex(const char* token, long* value) {
  if (token[0] == '\0') return false;
  errno = 0;
  char* end = nullptr;
  long number = strtol(token, &end, 10);
  if (errno != 0 || *end != '\0' || number < 0 || number > INT32_MAX) return false;
  *value = number;
  return true;
}

}  // namespace

int ReadModemListing(char* output, int len, long* index, char* token, size_t tokenSize) {
  if (len <= 10 || strstr(output, "No modems") != nullptr) return 0;

  // The listing's fifth token is the number at the end of the first modem's object path.
  char tokens[kListTokens][kTokenSize] = {};
  int count = 0;
  char* save = nullptr;
  for (char* piece = strtok_r(output, " /\r\n", &save); piece != nullptr && count < kListTokens;
       piece = strtok_r(nullptr, " /\r\n", &save)) {
    snprintf(tokens[count++], kTokenSize, "%s", piece);
  }
  if (count < 5 || !ParseIndex(tokens[4], index)) return 0;
  snprintf(token, tokenSize, "%s", tokens[4]);
  return 1;
}

int mmcli_GetIdx(ModemPass& pass, int onlyWhenMissing) {
  if (onlyWhenMissing != 0 && pass.session.modemIndex != -1) return onlyWhenMissing;

  char out[kClientOutputSize] = {};
  char* argv[] = {Arg("mmcli"), Arg("-L"), nullptr};
  int len = pass.bus != nullptr
                ? pass.bus->List(kListLimitMs, InterruptStopEvent(), out, kClientOutputSize - 1)
                : Zel_Exec(RouterPathOf(RouterPath::kMmcli), argv, kListLimitMs, kListIdleMs, out,
                           kClientOutputSize - 1);
  long number = 0;
  char token[kTokenSize];
  if (ReadModemListing(out, len, &number, token, sizeof token) == 0) {
    // Written only on a change: the watchdog's reset reads the index on the snapshot thread.
    if (pass.session.modemIndex != -1) pass.session.modemIndex = -1;
    return 0;
  }
  if (number != pass.session.modemIndex) {
    PrintOutsideText(stdout, "mmcli_GetIdx found modem %s index: %ld\n", token, number);
    fflush(stdout);
    pass.session.modemIndex = static_cast<int32_t>(number);
  }
  return 1;
}

int TakeModemResponse(char* out, int len, char* reply) {
  if (len <= 1) {
    PrintOutsideText(stdout, "Got Result Len: %d, %s\n", len, out);
    if (reply != nullptr) reply[0] = '\0';
    return 0;
  }
  while (len > 1 && (out[len - 1] == '\r' || out[len - 1] == '\n' || out[len - 1] == '\t')) {
    out[--len] = '\0';
  }
  if (len == 1) {
    PrintOutsideText(stdout, "Got Result Len: %d, %s\n", len, out);
    if (reply != nullptr) reply[0] = '\0';
    return 0;
  }
  if (out[len - 1] == '\'') out[--len] = '\0';
  PrintOutsideText(stdout, "Got Result Len: %d, %s\n", len, out);
  if (len <= kResponsePrefix) {
    if (reply != nullptr) reply[0] = '\0';
    return 0;
  }
  int n = len - kResponsePrefix;
  if (n > kModemReplySize - 1) n = kModemReplySize - 1;
  if (reply != nullptr) memcpy(reply, out + kResponsePrefix, static_cast<size_t>(n));
  return n;
}

int modem_Send(ModemPass& pass, const char* command, int commandSize, char* reply) {
  if (command == nullptr || command[0] == '\0') {
    fprintf(stderr, "Warning: modem_Send called with empty command of length %d\n", commandSize);
    return 0;
  }
  if (IndexTooLarge(pass)) return 0;

  // The command is stored with its carriage return; the client adds its own.
  char at_command[512] = {};
  int keep = commandSize - 2;
  if (keep > 0) {
    size_t n = strnlen(command, static_cast<size_t>(keep));
    if (n > sizeof at_command - 1) n = sizeof at_command - 1;
    memcpy(at_command, command, n);
  }
  char argument[512];
  snprintf(argument, sizeof argument, "--command=%s", at_command);

  char out[kClientOutputSize] = {};
  int len = RunModemCommand(pass, argument, out);
  ReportAtRefusal(&pass.session, out);
  int result = TakeModemResponse(out, len, reply);
  fflush(stdout);
  return result;
}

int modem_Reset(ModemPass& pass) {
  if (IndexTooLarge(pass)) return 0;
  char out[kClientOutputSize] = {};
  int len = RunModemCommand(pass, "-r", out);
  int result = TakeModemResponse(out, len, nullptr);
  fflush(stdout);
  // ModemManager's refusal ("error: couldn't reset the modem: ...", also when the modem is gone)
  // is long enough to pass for an answer, but no reset happened.
  if (strstr(out, "error:") != nullptr) return 0;
  return result;
}

int QmiCmd(ModemPass& pass, const char* argument, int totalLimitMs, int idleLimitMs) {
  PrintOutsideText(stdout, "QmiCmd: %s\n", argument);
  fflush(stdout);
  ModemSession* session = &pass.session;
  memset(session->qmiResult, 0, sizeof session->qmiResult);
  char* argv[] = {Arg("qmicli"), Arg("-d"), session->qmiDevice, Arg("-p"), Arg(argument), nullptr};
  return Zel_Exec(RouterPathOf(RouterPath::kQmicli), argv, totalLimitMs, idleLimitMs,
                  session->qmiResult, kQmiResultSize - 1);
}
