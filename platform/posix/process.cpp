#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

extern char** environ;

namespace {

// Step between two looks at the child: short against the limits in use (seconds).
constexpr unsigned kPollStepMs = 5;

uint64_t NowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u +
           static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

int StatusToCode(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return -1;
}

// Waits for `pid` until `deadline`; true with *code (StatusToCode) when it ended.
bool WaitUntil(pid_t pid, uint64_t deadline, int* code) {
    for (;;) {
        int status = 0;
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            *code = StatusToCode(status);
            return true;
        }
        if (done < 0 && errno != EINTR) {
            // Reaped elsewhere (SIGCHLD ignored): it ended, its status is unknown.
            *code = -1;
            return true;
        }
        if (NowMs() >= deadline) {
            return false;
        }
        timespec step{0, static_cast<long>(kPollStepMs) * 1000000L};
        nanosleep(&step, nullptr);
    }
}

}  // namespace

ProcessOutcome PlatformRunProgram(const std::vector<std::string>& argv, unsigned limitMs,
                                  int* exitCode) {
    if (exitCode) {
        *exitCode = -1;
    }
    if (argv.empty() || argv[0].empty()) {
        return ProcessOutcome::kNotStarted;
    }
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    // The child starts with no signal blocked and the usual dispositions, whatever the caller
    // blocks or ignores for itself (the command line blocks SIGINT and SIGTERM to take them on a
    // thread of its own): a Ctrl-C then ends the encoder at once, as it would any program.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT}) {
        sigaddset(&defaults, sig);
    }
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    // posix_spawnp looks a bare name up in PATH and uses a name with a '/' as it is; glibc
    // reports a failed exec through its result, so a missing program is seen here.
    int rc = posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) {
        return ProcessOutcome::kNotStarted;
    }

    int code = -1;
    if (WaitUntil(pid, NowMs() + limitMs, &code)) {
        if (exitCode) {
            *exitCode = code;
        }
        return ProcessOutcome::kExited;
    }
    int status = 0;
    kill(pid, SIGKILL);
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return ProcessOutcome::kTimedOut;
}
