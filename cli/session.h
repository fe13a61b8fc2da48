// One run of upgrade-cli: read the command line and the settings, register the command line as
// the main window, run the connect task and then the upgrade or dump task, and print what the
// wizard would show.
#pragma once

#include <string>
#include <vector>

// The exit statuses that scripts rely on.
enum CliExit : int {
    kExitSuccess = 0,
    kExitTaskFailed = 1,  // the task's status text was printed
    kExitUsage = 2,
    kExitRefused = 3,    // the select rules refused the file; their message was printed
    kExitCancelled = 4,  // SIGINT, SIGTERM or SIGHUP asked to cancel
};

// Runs the program for the arguments after its name and returns the exit status. Must be
// called on the main thread before any other thread exists (it takes over the interrupt
// signals).
int RunCli(const std::vector<std::string>& args);
