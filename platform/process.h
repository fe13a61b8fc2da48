// Starting a helper program and waiting for it with a limit. The program is started directly
// from its argument vector (no shell, so no quoting rules apply to the arguments); its input
// reads as empty and its output and error are discarded.
#pragma once

#include <string>
#include <vector>

enum class ProcessOutcome {
    kNotStarted,  // the program could not be started (missing, not executable, no resources)
    kExited,      // it ended by itself within the limit; *exitCode holds its exit status
    kTimedOut,    // it was still running when the limit passed; it has been ended and reaped
};

// Runs argv[0] with the arguments argv[1..]. A name without a '/' is looked up in PATH, a name
// with one is used as it is. Waits at most `limitMs` milliseconds for the program to end; past
// that the program is killed. Returns the outcome; *exitCode (may be null) is set to the exit
// status for kExited (128 + signal number when a signal ended it, -1 when the status is lost
// because the process ignores SIGCHLD) and to -1 otherwise. Never leaves a child process behind.
// Blocks the calling thread for as long as it waits.
ProcessOutcome PlatformRunProgram(const std::vector<std::string>& argv, unsigned limitMs,
                                  int* exitCode);
