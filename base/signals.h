// Daemon-wide flags written by the signal handlers and read by the main loop and the threads.
// The handlers only set flags; the main loop logs and acts on them.
#pragma once

#include <pthread.h>

#include <atomic>
#include <csignal>

class StopEvent;

// Lock-free atomics: safe to write in a signal handler (like volatile sig_atomic_t) and also to
// read from the other threads (the GPS listener, the JSON writer, child execution) without a race.
using SignalFlag = std::atomic<sig_atomic_t>;
static_assert(SignalFlag::is_always_lock_free, "signal flags must be lock-free");

extern SignalFlag stopRequested;
extern SignalFlag connectPending;
extern SignalFlag disconnectPending;
extern SignalFlag signal_disconnect;
// Notices taken by the handlers and not yet logged by the main loop ("Connected signal",
// "Disconnected signal"): one count per notice.
extern SignalFlag connectNoticesToLog;
extern SignalFlag disconnectNoticesToLog;

void OnInterrupt(int signo);   // SIGINT: sets stopRequested and signals the installed stop event
void OnLinkSignal(int signo);  // SIGUSR1 connect, SIGUSR2 disconnect

// SIGUSR1 ignored, SIGINT to OnInterrupt, which from then on also signals `stop` (kept by the
// caller for the rest of the process).
void InstallInterruptHandler(StopEvent* stop);
// The stop event SIGINT signals; nullptr before InstallInterruptHandler.
const StopEvent* InterruptStopEvent();
// SIGUSR1 and SIGUSR2 to OnLinkSignal.
void InstallLinkSignalHandlers();

// Starts a thread with SIGINT, SIGUSR1 and SIGUSR2 blocked, so they reach the main thread.
// Returns pthread_create's result.
int StartThreadWithDaemonSignalsBlocked(pthread_t* thread, void* (*body)(void*), void* arg);
