#include "modem/mmcli_link.h"

#include <cstdio>
#include <cstring>

#include "base/console_text.h"
#include "base/paths.h"
#include "exec/program_run.h"

namespace {

constexpr int kClientOutputSize = 1024;
constexpr int kPropertiesOutputSize = 16384;
// A reply line of the client starts with these many characters before the answer ("response: ").
constexpr int kResponsePrefix = 10;
constexpr int kListTokens = 15;

char* Arg(const char* text) { return const_cast<char*>(text); }

bool IsClientError(const char* output) { return strncmp(output, "error:", 6) == 0; }

// Copies the value that starts at `p` up to the line end into `value` (at most 127 characters,
// a backslash-tab pair dropped). Returns the position after the line end, or the end of the text.
const char* CopyValue(const char* p, char* value) {
  int len = 0;
  while (*p != '\0' && *p != '\n') {
    if (p[0] == '\\' && p[1] == '\t') {
      p += 2;
      continue;
    }
    if (len < kPropertyValueSize - 1) value[len++] = *p;
    ++p;  // past the cut, the rest of the line is skipped
  }
  value[len] = '\0';
  return *p == '\n' ? p + 1 : p;
}

// Calls `take(key, value)` for each "<key> : <value>" line until a line has no blank or no colon
// after it.
template <typename Take>
void ForEachKeyValue(const char* output, Take take) {
  const char* line = output;
  while (*line != '\0') {
    const char* lineEnd = strchr(line, '\n');
    if (lineEnd == nullptr) lineEnd = line + strlen(line);
    const char* blank = static_cast<const char*>(memchr(line, ' ', lineEnd - line));
    if (blank == nullptr) return;
    const char* colon = static_cast<const char*>(memchr(blank, ':', lineEnd - blank));
    if (colon == nullptr || colon + 1 == lineEnd) return;

    char key[kPropertyValueSize];
    snprintf(key, sizeof key, "%.*s", static_cast<int>(blank - line), line);
    // The value starts after the colon and the blank that follows it.
    const char* start = colon + 1;
    if (*start == ' ') ++start;
    char value[kPropertyValueSize];
    line = CopyValue(start, value);
    take(key, value);
  }
}

}  // namespace

int ReadModemListing(char* output, int len, ModemListing* listing) {
  listing->found = false;
  if (len <= 10 || strstr(output, "No modems") != nullptr) return 0;

  // The listing's fifth token is the number at the end of the first modem's object path.
  char tokens[kListTokens][kListedNumberSize] = {};
  int count = 0;
  char* save = nullptr;
  for (char* piece = strtok_r(output, " /\r\n", &save); piece != nullptr && count < kListTokens;
       piece = strtok_r(nullptr, " /\r\n", &save)) {
    snprintf(tokens[count++], kListedNumberSize, "%s", piece);
  }
  if (count < 5 || !ReadModemNumber(tokens[4], &listing->index)) return 0;
  snprintf(listing->number, sizeof listing->number, "%s", tokens[4]);
  listing->found = true;
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

void ReadModemKeyValues(const char* output, ModemProperties* properties) {
  ForEachKeyValue(output, [properties](const char* key, const char* value) {
    if (strcmp(key, "modem.generic.revision") == 0) {
      KeepProperty(&properties->revision, value);
    } else if (strcmp(key, "modem.generic.own-numbers.value[1]") == 0) {
      KeepProperty(&properties->ownNumber, value);
    } else if (strcmp(key, "modem.generic.signal-quality.value") == 0) {
      KeepProperty(&properties->signalQuality, value);
    } else if (strcmp(key, "modem.3gpp.imei") == 0) {
      KeepProperty(&properties->imei, value);
    } else if (strcmp(key, "modem.3gpp.eps.initial-bearer.settings.apn") == 0) {
      KeepProperty(&properties->initialBearerApn, value);
    } else if (strcmp(key, "modem.generic.bearers.value[1]") == 0) {
      KeepProperty(&properties->firstBearer, value);
    }
  });
}

void ReadBearerKeyValues(const char* output, BearerProperties* bearer) {
  ForEachKeyValue(output, [bearer](const char* key, const char* value) {
    if (strcmp(key, "bearer.properties.apn") == 0) KeepProperty(&bearer->apn, value);
  });
}

const char* MmcliLink::TraceName() const { return RouterPathOf(RouterPath::kMmcli); }

int32_t MmcliLink::Run(const char* flag, int32_t index, const char* argument, int32_t totalLimitMs,
                       char* output, int32_t outputSize) {
  char indexText[12];
  snprintf(indexText, sizeof indexText, "%d", index);
  char* argv[] = {Arg("mmcli"), Arg(flag), indexText, Arg(argument), nullptr};
  const ProgramRun run{RouterPathOf(RouterPath::kMmcli), argv, totalLimitMs, stop_};
  return RunProgram(run, output, static_cast<size_t>(outputSize - 1)).length;
}

void MmcliLink::List(int32_t totalLimitMs, ModemListing* listing) {
  char out[kClientOutputSize] = {};
  char* argv[] = {Arg("mmcli"), Arg("-L"), nullptr};
  const ProgramRun run{RouterPathOf(RouterPath::kMmcli), argv, totalLimitMs, stop_};
  const int32_t len = RunProgram(run, out, kClientOutputSize - 1).length;
  ReadModemListing(out, len, listing);
}

MmAnswer MmcliLink::ReadKeyValues(const char* flag, int32_t index, int32_t totalLimitMs,
                                  const char** output) {
  static char text[kPropertiesOutputSize];  // status cycle only; too large for a small stack
  memset(text, 0, sizeof text);
  const int32_t len = Run(flag, index, "-K", totalLimitMs, text, kPropertiesOutputSize);
  if (len <= 10 || text[0] == '\0') return MmAnswer::kNone;
  if (IsClientError(text)) return MmAnswer::kRefused;
  *output = text;
  return MmAnswer::kAnswered;
}

MmAnswer MmcliLink::ReadModem(int32_t index, int32_t totalLimitMs, ModemProperties* properties) {
  const char* output = nullptr;
  const MmAnswer answer = ReadKeyValues("-m", index, totalLimitMs, &output);
  if (answer != MmAnswer::kAnswered) return answer;
  *properties = ModemProperties{};
  ReadModemKeyValues(output, properties);
  return answer;
}

MmAnswer MmcliLink::ReadBearer(int32_t index, int32_t totalLimitMs, BearerProperties* bearer) {
  const char* output = nullptr;
  const MmAnswer answer = ReadKeyValues("-b", index, totalLimitMs, &output);
  if (answer != MmAnswer::kAnswered) return answer;
  *bearer = BearerProperties{};
  ReadBearerKeyValues(output, bearer);
  return answer;
}

MmAnswer MmcliLink::Command(int32_t index, const char* command, int32_t totalLimitMs,
                            AtReply* reply) {
  char argument[512];
  snprintf(argument, sizeof argument, "--command=%s", command);
  char out[kClientOutputSize] = {};
  const int32_t len = Run("-m", index, argument, totalLimitMs, out, kClientOutputSize);
  reply->forbidden = strstr(out, "ModemManager1.Error.Core.Unauthorized") != nullptr;
  char answer[kModemReplySize] = {};
  const int n = TakeModemResponse(out, len, answer);
  fflush(stdout);
  if (IsClientError(out)) return MmAnswer::kRefused;
  if (n <= 0) return MmAnswer::kNone;
  // The answer as the client quoted it: the opening quote is no part of it.
  const char* text = answer[0] == '\'' ? answer + 1 : answer;
  reply->length = static_cast<int32_t>(n - (text - answer));
  memcpy(reply->text, text, static_cast<size_t>(reply->length));
  reply->text[reply->length] = '\0';
  return MmAnswer::kAnswered;
}

MmAnswer MmcliLink::Reset(int32_t index, int32_t totalLimitMs) {
  char out[kClientOutputSize] = {};
  const int32_t len = Run("-m", index, "-r", totalLimitMs, out, kClientOutputSize);
  const int n = TakeModemResponse(out, len, nullptr);
  fflush(stdout);
  // ModemManager's refusal ("error: couldn't reset the modem: ...", also when the modem is gone)
  // is long enough to pass for an answer, but no reset happened.
  if (strstr(out, "error:") != nullptr) return MmAnswer::kRefused;
  return n > 0 ? MmAnswer::kAnswered : MmAnswer::kNone;
}
