#include "base/temp_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "base/plain_file.h"

namespace {

constexpr int kAttempts = 16;
constexpr size_t kSuffixLength = 6;

// Random name characters. Without an initialised entropy pool (early boot) the clock and a
// counter stand in: O_EXCL keeps the file ours either way, the randomness only spares retries.
void RandomSuffix(char* out) {
  static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  unsigned char bytes[kSuffixLength];
  if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
    static std::atomic<uint32_t> counter{0};  // the snapshot writer and the main thread
    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t mix = static_cast<uint64_t>(now.tv_nsec) ^ (static_cast<uint64_t>(getpid()) << 32) ^
                   ++counter;
    for (unsigned char& b : bytes) {
      mix = mix * 6364136223846793005u + 1442695040888963407u;
      b = static_cast<unsigned char>(mix >> 56);
    }
  }
  for (size_t i = 0; i < kSuffixLength; ++i) out[i] = kAlphabet[bytes[i] % (sizeof kAlphabet - 1)];
  out[kSuffixLength] = '\0';
}

}  // namespace

TempFile::~TempFile() { Discard(); }

void TempFile::Discard() {
  fd_.Close();
  if (created_) unlink(path_);
  created_ = false;
}

int TempFile::Create(const char* target) {
  Discard();
  int n = snprintf(target_, sizeof target_, "%s", target);
  if (n < 0 || static_cast<size_t>(n) >= sizeof target_) {
    snprintf(path_, sizeof path_, "%s.tmp", target);
    errno = ENAMETOOLONG;
    return 0;
  }
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    char suffix[kSuffixLength + 1];
    RandomSuffix(suffix);
    snprintf(path_, sizeof path_, "%s.tmp-%s", target_, suffix);
    const int fd = open(path_, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd >= 0) {
      fd_.Reset(fd);
      created_ = true;
      return 1;
    }
    if (errno != EEXIST) return 0;
  }
  return 0;
}

int TempFile::Write(const char* text, size_t length) {
  errno = 0;
  if (!WriteAll(fd_.get(), text, length)) {
    if (errno == 0) errno = EIO;
    return 0;
  }
  return 1;
}

int TempFile::Commit() {
  if (fd_.Close() != 0 || rename(path_, target_) != 0) {
    const int saved = errno;
    Discard();
    errno = saved;
    return 0;
  }
  created_ = false;
  return 1;
}
