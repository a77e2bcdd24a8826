// Feeds arbitrary bytes through a pipe into RunProgram: /bin/cat prints a file holding the input,
// captured with a small output size chosen by the first byte (or the command channel's 1023).
// Checks what is stored and that no descriptor or child is left behind.
#include <dirent.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "exec/program_run.h"
#include "fuzz/fuzz_support.h"

namespace {

ScratchDir* dir = nullptr;
int baseline_fds = -1;
unsigned runs = 0;

int OpenDescriptors() {
  DIR* fds = opendir("/proc/self/fd");
  if (fds == nullptr) return -1;
  int count = 0;
  while (readdir(fds) != nullptr) ++count;
  closedir(fds);
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static ScratchDir scratch;
  dir = &scratch;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int32_t output_size = data[0] < 192 ? 1 + data[0] % 48 : 1023;
  const std::string path = *dir / "output";
  WriteInputFile(path, data + 1, size - 1);

  // Cleared as every caller clears it (with an output size of 1 nothing is stored at all); the
  // bytes past the output size are marked to see an overrun.
  char output[1024];
  memset(output, 0, sizeof output);
  memset(output + output_size, 'x', sizeof output - static_cast<size_t>(output_size));
  char* argv[] = {const_cast<char*>("cat"), const_cast<char*>(path.c_str()), nullptr};
  const ProgramOutcome outcome = RunProgram({"/bin/cat", argv, 5000, nullptr}, output,
                                            static_cast<size_t>(output_size));
  const int32_t stored = outcome.length;
  if (outcome.end != RunEnd::kExited) abort();

  // Everything up to outputSize - 1 characters is stored and terminated; a NUL in a chunk ends the
  // chunk's text, so a stored byte is the input's byte or NUL.
  const size_t expected = size - 1 < static_cast<size_t>(output_size - 1) ? size - 1 : output_size - 1;
  if (stored != static_cast<int32_t>(expected)) abort();
  if (output[stored] != '\0') abort();
  if (output_size < 1023 && output[output_size] != 'x') abort();  // nothing past the size
  for (int32_t i = 0; i < stored; ++i) {
    if (output[i] != static_cast<char>(data[1 + i]) && output[i] != '\0') abort();
  }
  if (memchr(data + 1, '\0', expected) == nullptr && memcmp(output, data + 1, expected) != 0) abort();

  // Every child is reaped and every descriptor closed.
  if (waitpid(-1, nullptr, WNOHANG) != -1 || errno != ECHILD) abort();
  if ((runs++ & 255) == 0) {
    const int fds = OpenDescriptors();
    if (baseline_fds < 0) baseline_fds = fds;
    if (fds != baseline_fds) abort();
  }
  return 0;
}
