#include "tests/cli/cli_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

extern char** environ;

namespace {

long long ElapsedMs(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 since)
        .count();
}

}  // namespace

CliProcess::CliProcess(const std::vector<std::string>& args) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        return;
    }
    std::vector<std::string> all = {UPGRADE_CLI_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        m_pid = pid;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    m_out = out[0];
    m_err = err[0];
}

CliProcess::~CliProcess() {
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    if (m_out >= 0)
        close(m_out);
    if (m_err >= 0)
        close(m_err);
}

bool CliProcess::Pump(int waitMs) {
    pollfd fds[2] = {{m_out, POLLIN, 0}, {m_err, POLLIN, 0}};
    if (m_out < 0 && m_err < 0) {
        return false;
    }
    if (poll(fds, 2, waitMs) <= 0) {
        return true;
    }
    int* ends[2] = {&m_out, &m_err};
    std::string* buffers[2] = {&m_result.out, &m_result.err};
    for (int i = 0; i < 2; ++i) {
        if (*ends[i] < 0 || fds[i].revents == 0) {
            continue;
        }
        char buffer[4096];
        ssize_t n = read(*ends[i], buffer, sizeof buffer);
        if (n > 0) {
            buffers[i]->append(buffer, static_cast<size_t>(n));
        } else {
            close(*ends[i]);
            *ends[i] = -1;
        }
    }
    return m_out >= 0 || m_err >= 0;
}

bool CliProcess::WaitForOutput(const std::string& text, unsigned timeoutMs) {
    const auto start = std::chrono::steady_clock::now();
    while (m_result.out.find(text) == std::string::npos) {
        if (ElapsedMs(start) > timeoutMs || !Pump(20)) {
            return m_result.out.find(text) != std::string::npos;
        }
    }
    return true;
}

void CliProcess::Signal(int number) {
    if (m_pid > 0) {
        kill(m_pid, number);
    }
}

CliResult CliProcess::Finish(unsigned timeoutMs) {
    const auto start = std::chrono::steady_clock::now();
    while (Pump(20)) {
        if (ElapsedMs(start) > timeoutMs) {
            kill(m_pid, SIGKILL);
            break;
        }
    }
    if (m_pid > 0) {
        int status = 0;
        if (waitpid(m_pid, &status, 0) == m_pid && WIFEXITED(status)) {
            m_result.exitCode = WEXITSTATUS(status);
        }
        m_pid = -1;
    }
    return m_result;
}

CliResult RunCliProgram(const std::vector<std::string>& args, unsigned timeoutMs) {
    CliProcess process(args);
    return process.Finish(timeoutMs);
}
