// A stop request that a signal handler can raise and any thread can wait for with poll.
#pragma once

#include <atomic>

#include "base/scoped_handles.h"

// Once signalled it stays signalled: its descriptor stays readable, so every waiter, present or
// later, wakes at once.
class StopEvent {
 public:
  StopEvent();
  StopEvent(const StopEvent&) = delete;
  StopEvent& operator=(const StopEvent&) = delete;

  // False when the kernel gave no descriptor: the event is then only seen by IsSignalled.
  bool valid() const { return fd_.valid(); }
  // Async-signal-safe: one atomic store and one write.
  void Signal();
  bool IsSignalled() const { return signalled_.load(std::memory_order_acquire); }
  // Readable once signalled; -1 when not valid (poll skips it).
  int fd() const { return fd_.get(); }
  // Waits up to `timeoutMs` (negative: without limit) for the event; true when signalled.
  bool WaitFor(int timeoutMs) const;

 private:
  ScopedFd fd_;
  std::atomic<bool> signalled_{false};
  static_assert(std::atomic<bool>::is_always_lock_free, "Signal must be async-signal-safe");
};
