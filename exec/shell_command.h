// Running one command line through the system shell without touching the daemon's signal handling.
#pragma once

// Runs `command` with /bin/sh -c and waits for it. Unlike system(), the process's SIGINT and
// SIGQUIT dispositions are left alone, so a stop request that arrives meanwhile is not lost; the
// child starts with default signal handling and an empty signal mask. Returns the wait status, or
// -1 when the shell could not be started.
int RunShellCommand(const char* command);

// Replaces what RunShellCommand runs for the commands that follow; nullptr restores the shell.
// Lets tests and fuzzing run the callers without starting the router's LED and I2C tools. Set it
// before any other thread runs commands.
using ShellCommandRunner = int (*)(const char* command);
void SetShellCommandRunner(ShellCommandRunner runner);
