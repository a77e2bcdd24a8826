#include "base/signals.h"

#include "base/stop_event.h"

SignalFlag stopRequested = 0;
SignalFlag connectPending = 0;
SignalFlag disconnectPending = 0;
SignalFlag signal_disconnect = 0;
SignalFlag connectNoticesToLog = 0;
SignalFlag disconnectNoticesToLog = 0;

namespace {

// The handler's only way to the event; a lock-free atomic, so the handler may read it.
std::atomic<StopEvent*> interrupt_stop{nullptr};
static_assert(std::atomic<StopEvent*>::is_always_lock_free, "the handler reads it");

}  // namespace

void OnInterrupt(int) {
  stopRequested = 1;
  StopEvent* stop = interrupt_stop.load();
  if (stop != nullptr) stop->Signal();
}

const StopEvent* InterruptStopEvent() { return interrupt_stop.load(); }

void OnLinkSignal(int signo) {
  if (signo == SIGUSR1) {
    connectNoticesToLog.fetch_add(1);
    connectPending = 1;
    signal_disconnect = 0;
    disconnectPending = 0;
  } else if (signo == SIGUSR2) {
    disconnectNoticesToLog.fetch_add(1);
    connectPending = 0;
    disconnectPending = 1;
  }
}

namespace {

void SetHandler(int signo, void (*handler)(int)) {
  struct sigaction sa {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sigaction(signo, &sa, nullptr);
}

}  // namespace

void InstallInterruptHandler(StopEvent* stop) {
  interrupt_stop.store(stop);
  SetHandler(SIGUSR1, SIG_IGN);
  SetHandler(SIGINT, OnInterrupt);
}

void InstallLinkSignalHandlers() {
  SetHandler(SIGUSR1, OnLinkSignal);
  SetHandler(SIGUSR2, OnLinkSignal);
}

int StartThreadWithDaemonSignalsBlocked(pthread_t* thread, void* (*body)(void*), void* arg) {
  sigset_t block, previous;
  sigemptyset(&block);
  sigaddset(&block, SIGINT);
  sigaddset(&block, SIGUSR1);
  sigaddset(&block, SIGUSR2);
  pthread_sigmask(SIG_BLOCK, &block, &previous);
  int rc = pthread_create(thread, nullptr, body, arg);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return rc;
}
