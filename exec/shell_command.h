// Running one command line through the system shell without touching the daemon's signal handling.
#pragma once

// Runs `command` with /bin/sh -c and waits for it. Unlike system(), the process's SIGINT and
// SIGQUIT dispositions are left alone, so a stop request that arrives meanwhile is not lost; the
// child starts with default signal handling and an empty signal mask. Returns the wait status, or
// -1 when the shell could not be started.
int RunShellCommand(const char* command);
