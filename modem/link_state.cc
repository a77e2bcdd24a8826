#include "modem/link_state.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/paths.h"
#include "base/plain_file.h"
#include "base/scoped_handles.h"
#include "base/signals.h"
#include "modem/collectors.h"
#include "modem/modem_pass.h"
#include "modem/modem_session.h"
#include "platform/board.h"
#include "status/status_table.h"

namespace {

constexpr int kTokenCount = 32;
constexpr int kTokenSize = 64;  // at most 62 characters are kept

bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Splits at runs of blanks into zero-filled slots; the line end is a separator too, so the last
// counter never carries it into the status table.
void SplitTokens(const char* line, char (*tokens)[kTokenSize]) {
  memset(tokens, 0, kTokenCount * kTokenSize);
  int count = 0;
  const char* p = line;
  while (*p != '\0' && count < kTokenCount) {
    while (*p != '\0' && IsSeparator(*p)) ++p;
    if (*p == '\0') break;
    int len = 0;
    while (p[len] != '\0' && !IsSeparator(p[len])) ++len;
    const int keep = len < kTokenSize - 2 ? len : kTokenSize - 2;
    memcpy(tokens[count], p, static_cast<size_t>(keep));
    ++count;
    p += len;
  }
}

}  // namespace

void TakeNetDevLine(ModemPass& pass, const char* line) {
  char tokens[kTokenCount][kTokenSize];
  SplitTokens(line, tokens);
  pass.table.Update(kWWanRxBytes_i, tokens[1], 0);
  pass.table.Update(kWWanRxPkts_i, tokens[2], 0);
  pass.table.Update(kWWanTxBytes_i, tokens[9], 0);
  pass.table.Update(kWWanTxPkts_i, tokens[10], 0);
}

void GetKxNetworkInfo(ModemPass& pass) {
  const char* path = RouterPathOf(RouterPath::kProcNetDev);
  ScopedFd file(open(path, O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) {
    fprintf(stderr, "Problem opening: %s (%s)\n", path, strerror(errno));
    return;
  }
  LineReader lines(file.get());
  char line[1024];
  while (lines.Next(line, 1023)) {
    if (strstr(line, pass.board.WwanInterface()) != nullptr) {
      TakeNetDevLine(pass, line);
      return;
    }
  }
}

int GetLTEConnectionStatus(ModemPass& pass) {
  if (signal_disconnect == 0) {
    pass.session.lteUp = 1;
    return 1;
  }
  if (pass.session.lteUp == 0) return 0;
  pass.session.lteUp = 0;
  pass.table.Expire(StatusKind::kLink);
  return 0;
}
