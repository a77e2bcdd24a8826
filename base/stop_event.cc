#include "base/stop_event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

StopEvent::StopEvent() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

void StopEvent::Signal() {
  const int saved_errno = errno;  // a handler must leave errno as it found it
  signalled_.store(true, std::memory_order_release);
  if (fd_.valid()) {
    // The counter is never read, so it stays non-zero and the descriptor readable.
    const uint64_t one = 1;
    ssize_t ignored = write(fd_.get(), &one, sizeof one);
    (void)ignored;
  }
  errno = saved_errno;
}

bool StopEvent::WaitFor(int timeoutMs) const {
  if (IsSignalled()) return true;
  struct pollfd pfd {fd_.get(), POLLIN, 0};
  poll(&pfd, 1, timeoutMs);
  return IsSignalled();
}
