// Daemon-wide flags written by the signal handlers and read by the main loop and the threads.
// The handlers only set flags; the main loop logs and acts on them.
#pragma once

#include <pthread.h>

#include <csignal>

extern volatile sig_atomic_t stopRequested;
extern volatile sig_atomic_t connectPending;
extern volatile sig_atomic_t disconnectPending;
extern volatile sig_atomic_t signal_disconnect;
// Notices taken by the handlers and not yet logged by the main loop ("Connected signal",
// "Disconnected signal"): one count per notice.
extern volatile sig_atomic_t connectNoticesToLog;
extern volatile sig_atomic_t disconnectNoticesToLog;

void onInterrupt(int signo);   // SIGINT: sets stopRequested
void onLinkSignal(int signo);  // SIGUSR1 connect, SIGUSR2 disconnect

// SIGUSR1 ignored, SIGINT to onInterrupt (start-up step 2).
void InstallInterruptHandler();
// SIGUSR1 and SIGUSR2 to onLinkSignal.
void InstallLinkSignalHandlers();

// Starts a thread with SIGINT, SIGUSR1 and SIGUSR2 blocked, so they reach the main thread.
// Returns pthread_create's result.
int StartThreadWithDaemonSignalsBlocked(pthread_t* thread, void* (*body)(void*), void* arg);
