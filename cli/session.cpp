#include "cli/session.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "cli/chunk_choice.h"
#include "cli/console.h"
#include "cli/console_text.h"
#include "cli/options.h"
#include "cli/progress.h"
#include "library/link/upgrade.h"
#include "platform/message_channel.h"
#include "platform/paths.h"
#include "tasks/config.h"
#include "tasks/notify.h"
#include "tasks/upgrade_context.h"

namespace {

// The watcher thread's message: a signal arrived (wParam its number).
constexpr unsigned kWmCliSignal = kWmApp + 200;
// How long the main loop waits for a message before it looks at the cancel request again.
constexpr unsigned kPollMs = 100;
// As the wizard's close: a worker that has not stopped this long after the cancel request is
// left behind, and the program ends.
constexpr uint64_t kCancelGiveUpMs = 10000;
// The worker ends right after its final message; this only guards against a hang.
constexpr unsigned kWorkerEndMs = 30000;
// The progress line's width in characters.
constexpr size_t kProgressWidth = 79;

uint64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void Error(const std::string& text) {
    std::fputs(("upgrade-cli: " + TerminalText(text) + "\n").c_str(), stderr);
    std::fflush(stderr);
}

const char* SignalName(int number) {
    return number == SIGINT ? "SIGINT" : number == SIGTERM ? "SIGTERM" : "SIGHUP";
}

// Copies the file named by --config into `dir` as the settings file and points the settings
// reader there; the command line never writes settings, so reading a copy is the same.
bool UseSettingsFile(const std::string& path, PlatformPrivateDir* dir, std::string* error) {
    std::error_code code;
    if (!std::filesystem::is_regular_file(path, code)) {
        *error = "settings file " + path + ": " +
                 (std::filesystem::exists(path, code) ? "not a regular file" : "no such file");
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    std::string contents((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
        *error = "settings file " + path + ": cannot be read (" + std::strerror(errno) + ")";
        return false;
    }
    if (!dir->Create("upgrade-cli-")) {
        *error = "cannot make a private directory for the settings";
        return false;
    }
    std::ofstream out(dir->File(kSettingsFileName), std::ios::binary);
    out << contents;
    if (!out.good()) {
        *error = "cannot copy the settings file " + path;
        return false;
    }
    SetConfigDirectory(dir->Path());
    return true;
}

class Session {
  public:
    explicit Session(const CliOptions& options) : m_options(options) {}
    ~Session() { FlushOpenLine(); }
    int Run();

  private:
    struct Outcome {
        bool finished = false;  // the final message came
        uintptr_t wParam = 0;
        intptr_t lParam = 0;
    };

    int Connect();
    int Work();
    Outcome RunTask(bool connect);
    void Handle(const PostedMessage& message);
    void OnSignal(int number);
    void AssertCancel();
    void ExplainFailure() const;
    void Out(const std::string& text);
    void FlushOpenLine();
    void DrawProgress();
    void ClearProgress();

    const CliOptions& m_options;
    PlatformMessageQueue m_queue;
    PlatformMainWindowScope m_window{&m_queue};
    std::atomic<bool> m_signalled{false};
    bool m_cancelPending = false;
    uint64_t m_cancelSinceMs = 0;
    bool m_burning = false;
    LogText m_log;
    std::string m_lastLog;
    ProgressLine m_progress;
    bool m_progressOnTerminal = ConsoleIsTerminal(2);
    std::string m_progressShown;
    std::string m_openLine;        // stdout text after its last line break, not yet written
    ConsoleSignalWatch m_signals;  // last: its thread stops before anything it touches goes
};

int Session::Run() {
    bool started = m_signals.Start([this](int number) {
        m_signalled = true;
        m_queue.Post(PostedMessage{kWmCliSignal, static_cast<uintptr_t>(number), 0, {}});
    });
    if (!started) {
        Error("cannot take over the interrupt signals");
        return kExitTaskFailed;
    }
    PlatformPrivateDir settingsDir;
    if (!m_options.config.empty()) {
        std::string error;
        if (!UseSettingsFile(m_options.config, &settingsDir, &error)) {
            Error(error);
            return kExitUsage;
        }
    }
    CUpgradeContext* context = GetContext();
    context->InitContext();
    if (m_options.port != 0) {
        g_comPort = m_options.port;
    }
    if (!m_options.device.empty()) {
        ComSetDeviceName(g_comPort, m_options.device);
    }
    if (m_options.baud != 0) {
        g_comBaud = m_options.baud;
    }
    if (m_options.parity >= 0) {
        g_comParity = m_options.parity;
    }
    const int connected = Connect();
    return connected != kExitSuccess || m_options.command == CliCommand::kInfo ? connected : Work();
}

int Session::Connect() {
    const Outcome outcome = RunTask(true);
    if (m_signalled || m_cancelPending) {
        Error("cancelled");
        return kExitCancelled;
    }
    if (!outcome.finished || outcome.wParam != 1) {
        ExplainFailure();
        return kExitTaskFailed;
    }
    CUpgradeContext* context = GetContext();
    if (m_options.command == CliCommand::kInfo) {
        Out(FormatInfo(g_chunkTable, context->protocolVersion, context->bootVersion));
    } else {
        Out(m_log.Line(FormatTitle(context->protocolVersion)));
    }
    return kExitSuccess;
}

int Session::Work() {
    CUpgradeContext* context = GetContext();
    const Choice choice = ChooseFiles(m_options, *context, g_chunkTable);
    if (!choice.notice.empty()) {
        Out(m_log.Line(choice.notice));
    }
    if (choice.result == ChoiceResult::kUsage) {
        Error(choice.message);
        return kExitUsage;
    }
    if (choice.result == ChoiceResult::kRefused) {
        Out(m_log.Line(choice.message));
        return kExitRefused;
    }
    if (m_signalled) {
        Error("cancelled");
        return kExitCancelled;
    }
    m_progress = ProgressLine(PlanStepSizes(*context, g_chunkTable));
    const Outcome outcome = RunTask(false);
    const char* what = context->operation == 0 ? "Upgrade " : "Dump ";
    if (outcome.finished && outcome.wParam == 0) {
        Out(m_log.Line(std::string(what) + "Success!"));
        return kExitSuccess;
    }
    // Once the burn has begun nothing was cancelled, whatever the flag says.
    if (!m_burning && (outcome.lParam != 0 || m_cancelPending)) {
        Error("cancelled");
        return kExitCancelled;
    }
    Out(m_log.Line(std::string(what) + "Error"));
    ExplainFailure();
    return kExitTaskFailed;
}

Session::Outcome Session::RunTask(bool connect) {
    Outcome outcome;
    m_burning = false;
    if (!(connect ? StartConnectTask() : StartUpgradeTask())) {
        Error("a task is still running");
        return outcome;
    }
    m_log.Begin(connect ? LogText::Page::kConnect : LogText::Page::kProcess);
    const unsigned final = connect ? WM_CONNECT_DONE : WM_UPGRADE_DONE;
    for (;;) {
        PostedMessage message;
        if (m_queue.Take(&message, kPollMs)) {
            if (message.message == final) {
                outcome = {true, message.wParam, message.lParam};
                break;
            }
            Handle(message);
        } else if (WaitForWorker(0) && m_queue.Size() == 0) {
            Error("the task ended without its result");
            break;
        }
        AssertCancel();
        if (m_cancelPending && !m_burning && NowMs() - m_cancelSinceMs > kCancelGiveUpMs) {
            ClearProgress();
            FlushOpenLine();
            Error("the task did not stop within 10 s of the cancel request; leaving it");
            std::_Exit(kExitCancelled);
        }
    }
    m_progress = ProgressLine();
    ClearProgress();
    Out(m_log.Finish());
    if (!WaitForWorker(kWorkerEndMs)) {
        Error("the task did not end after its result");
    }
    return outcome;
}

void Session::Handle(const PostedMessage& message) {
    switch (message.message) {
        case WM_TASK_STATUS:
            Out(m_log.Status(message.text));
            m_progress.Step(message.text, NowMs());
            DrawProgress();
            break;
        case WM_TASK_LOG:
            m_lastLog = message.text;
            Out(m_log.Log(message.text));
            break;
        case WM_TASK_PROGRESS:
            m_progress.Percent(static_cast<int>(message.wParam), NowMs());
            DrawProgress();
            break;
        case WM_BURN_BEGIN:
            m_burning = true;
            if (m_cancelPending) {
                m_cancelPending = false;
                Error("the burn has begun and cannot be interrupted; please wait for its end");
            }
            break;
        case kWmCliSignal:
            OnSignal(static_cast<int>(message.wParam));
            break;
        default:
            break;
    }
}

void Session::OnSignal(int number) {
    if (m_burning || GetContext()->taskState == TASK_BURNING) {
        ClearProgress();
        Error(std::string(SignalName(number)) +
              ": the flash is being burnt; the burn cannot be interrupted, please wait");
        DrawProgress();
        return;
    }
    if (!m_cancelPending) {
        m_cancelPending = true;
        m_cancelSinceMs = NowMs();
        ClearProgress();
        Error(std::string(SignalName(number)) + ": cancelling");
        DrawProgress();
    }
    AssertCancel();
}

// The wizard's Cancel sets the flag while the connect or the upgrade runs. A task clears the
// flag as it starts, so a request that came just before is set again here.
void Session::AssertCancel() {
    if (!m_cancelPending || m_burning) {
        return;
    }
    const int state = GetContext()->taskState;
    if (state == TASK_CONNECTING || state == TASK_UPGRADING) {
        g_cancelRequested = 1;
    }
}

void Session::ExplainFailure() const {
    const std::string device = ComDeviceName(g_comPort);
    const std::string port = "COM" + std::to_string(g_comPort);
    const std::string name = device.empty() ? port : device;
    switch (ComLastOpenError()) {
        case COM_OPEN_OK:
            break;
        case COM_OPEN_NO_DEVICE:
            Error(device.empty() ? port + " stands for no device" : device + ": no such device");
            return;
        case COM_OPEN_NO_PERMISSION:
            Error(name +
                  ": permission denied; the user must be in the group dialout "
                  "(sudo usermod -aG dialout \"$USER\", then log in again)");
            return;
        case COM_OPEN_IN_USE:
            Error(name + ": in use by another program");
            return;
        case COM_OPEN_SETTINGS:
            Error(name + ": the device refused the line settings (" + std::to_string(g_comBaud) +
                  " baud, parity " + ParityName(g_comParity) +
                  "): " + std::strerror(ComLastOpenErrno()));
            return;
    }
    char noTarget[256] = {};
    if (UpgGetErrorText(UPG_ERR_NO_TARGET, noTarget) && m_lastLog == noTarget) {
        Error("no answer from the STB on " + name +
              " within the handshake: check the cable and the line settings, and switch the "
              "STB on while the program waits");
    }
}

void Session::Out(const std::string& text) {
    if (text.empty()) {
        return;
    }
    ClearProgress();
    m_openLine += text;
    // The progress line on the terminal would overwrite a line still open on stdout, so such a
    // line is written once it is complete; the progress line names its step meanwhile.
    const size_t lastBreak = m_openLine.rfind('\n');
    const size_t count = !m_progressOnTerminal            ? m_openLine.size()
                         : lastBreak == std::string::npos ? 0
                                                          : lastBreak + 1;
    std::fwrite(m_openLine.data(), 1, count, stdout);
    std::fflush(stdout);
    m_openLine.erase(0, count);
    DrawProgress();
}

void Session::FlushOpenLine() {
    std::fwrite(m_openLine.data(), 1, m_openLine.size(), stdout);
    std::fflush(stdout);
    m_openLine.clear();
}

void Session::DrawProgress() {
    if (!m_progressOnTerminal || !m_progress.Visible()) {
        return;
    }
    const std::string line = m_progress.Render(kProgressWidth);
    if (line != m_progressShown) {
        std::fputs(("\r\x1b[K" + line).c_str(), stderr);
        std::fflush(stderr);
        m_progressShown = line;
    }
}

void Session::ClearProgress() {
    if (!m_progressShown.empty()) {
        std::fputs("\r\x1b[K", stderr);
        std::fflush(stderr);
        m_progressShown.clear();
    }
}

}  // namespace

int RunCli(const std::vector<std::string>& args) {
    const CliParseResult parsed = ParseCommandLine(args);
    if (!parsed.ok) {
        Error(parsed.error);
        std::fputs("Try 'upgrade-cli --help'.\n", stderr);
        return kExitUsage;
    }
    if (parsed.options.help || parsed.options.version) {
        const std::string text = parsed.options.help ? UsageText() : VersionText();
        std::fwrite(text.data(), 1, text.size(), stdout);
        return kExitSuccess;
    }
    Session session(parsed.options);
    return session.Run();
}
