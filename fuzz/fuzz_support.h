// Helpers the fuzz targets share: terminated copies of the input, a quiet standard output, the
// status table set up as the daemon has it, a board that starts no tool, and a private scratch
// directory.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "modem/mmcli_link.h"
#include "modem/modem_pass.h"
#include "modem/modem_session.h"
#include "modem/qmicli_link.h"
#include "platform/board.h"
#include "status/status_table.h"

// Copies at most cap - 1 bytes of the input into `text` and terminates it. Returns the count.
inline size_t CopyInput(const uint8_t* data, size_t size, char* text, size_t cap) {
  const size_t n = size < cap - 1 ? size : cap - 1;
  memcpy(text, data, n);
  text[n] = '\0';
  return n;
}

// The parsers' trace lines would cost more than the parsing; libFuzzer reports on standard error.
inline void QuietStdout() {
  if (freopen("/dev/null", "w", stdout) == nullptr) abort();
}

// The router's board with its LED and I2C switches doing nothing: no process per input.
class QuietBoard : public Board {
 public:
  bool SetHpueLeds(bool) override { return true; }
  bool SetFixRegister(bool) override { return true; }
  const char* WwanInterface() const override { return "wwan0"; }
  const char* LanInterface() const override { return "lan1"; }
};

inline void InitStatusForFuzzing() { QuietStdout(); }

// The board the inputs run against: one for the process.
inline Board& FuzzBoard() {
  static QuietBoard board;
  return board;
}

// The status table the inputs are stored in: one for the process, as the daemon has one.
inline StatusTable& FuzzTable() {
  static StatusTable table;
  return table;
}

// A pass on that table and the quiet board with `modem` (fresh for each input) as its modem
// session. Its links run the router's clients; no target asks through them.
inline ModemPass FuzzPass(ModemSession* modem) {
  static MmcliLink manager(nullptr);
  static QmicliLink qmi(nullptr);
  *modem = ModemSession{};
  return ModemPass{FuzzTable(), *modem, FuzzBoard(), manager, qmi};
}

// A directory of its own under $TMPDIR, else /dev/shm (a file write per input on a disk-backed /tmp
// costs more than the code under test), else /tmp; removed with everything in it at exit.
class ScratchDir {
 public:
  ScratchDir() {
    const char* base = getenv("TMPDIR");
    if (base == nullptr || base[0] == '\0') {
      std::error_code ignored;
      base = std::filesystem::is_directory("/dev/shm", ignored) ? "/dev/shm" : "/tmp";
    }
    path_ = std::string(base) + "/modem-fuzz-XXXXXX";
    if (mkdtemp(path_.data()) == nullptr) abort();
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const char* name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Replaces `path` with the input's bytes.
inline void WriteInputFile(const std::string& path, const uint8_t* data, size_t size) {
  FILE* file = fopen(path.c_str(), "wb");
  if (file == nullptr) abort();
  if (size > 0 && fwrite(data, 1, size, file) != size) abort();
  if (fclose(file) != 0) abort();
}
