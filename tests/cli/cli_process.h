// The built upgrade-cli run as a child process, as a user or a script runs it: its arguments,
// its standard output and error read through pipes, signals sent to it, its exit status.
#pragma once

#include <string>
#include <vector>

struct CliResult {
    int exitCode = -1;  // the exit status; -1 when it was ended by a signal or did not end
    std::string out;
    std::string err;
};

class CliProcess {
  public:
    // Starts the program with `args` (the program name is added).
    explicit CliProcess(const std::vector<std::string>& args);
    ~CliProcess();
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    bool Started() const { return m_pid > 0; }
    // Reads the output until standard output holds `text`; false when it did not come within
    // `timeoutMs` or the program closed its output first.
    bool WaitForOutput(const std::string& text, unsigned timeoutMs);
    void Signal(int number);
    // Reads everything until the program ends; kills it after `timeoutMs`.
    CliResult Finish(unsigned timeoutMs);

  private:
    // Moves whatever the pipes hold into the buffers, waiting at most `waitMs`. False once both
    // pipes are closed.
    bool Pump(int waitMs);
    int m_pid = -1;
    int m_out = -1;
    int m_err = -1;
    CliResult m_result;
};

// Runs the program to its end.
CliResult RunCliProgram(const std::vector<std::string>& args, unsigned timeoutMs = 60000);
