#include "daemon/signals.h"

volatile sig_atomic_t stopRequested = 0;
volatile sig_atomic_t connectPending = 0;
volatile sig_atomic_t disconnectPending = 0;
volatile sig_atomic_t signal_disconnect = 0;
volatile sig_atomic_t connectNoticesToLog = 0;
volatile sig_atomic_t disconnectNoticesToLog = 0;

void onInterrupt(int) { stopRequested = 1; }

void onLinkSignal(int signo) {
  if (signo == SIGUSR1) {
    connectNoticesToLog = connectNoticesToLog + 1;
    connectPending = 1;
    signal_disconnect = 0;
    disconnectPending = 0;
  } else if (signo == SIGUSR2) {
    disconnectNoticesToLog = disconnectNoticesToLog + 1;
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

void InstallInterruptHandler() {
  SetHandler(SIGUSR1, SIG_IGN);
  SetHandler(SIGINT, onInterrupt);
}

void InstallLinkSignalHandlers() {
  SetHandler(SIGUSR1, onLinkSignal);
  SetHandler(SIGUSR2, onLinkSignal);
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
