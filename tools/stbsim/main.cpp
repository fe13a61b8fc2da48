// stbsim: a simulated STB boot loader on a pseudo-terminal. See --help.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/stbsim/stbsim.h"

namespace {

using namespace stbsim;

const char kUsage[] =
    "Usage:\n"
    "  stbsim [OPTIONS]                      serve one simulated STB\n"
    "  stbsim make-firmware [--profile P] [--newer-bootloader] OUT\n"
    "                                        write a firmware image file for profile P\n"
    "  stbsim list-profiles                  name the built-in profiles\n"
    "\n"
    "The first line written to stdout is the device to open as the serial port (the\n"
    "pseudo-terminal's slave, or the --device path). The simulator serves until it gets\n"
    "SIGINT or SIGTERM, or until the idle time-out runs out.\n"
    "\n"
    "STB:\n"
    "  --profile NAME|FILE   built-in profile (RDX01, gen30, gen21, gen20, oldest; default\n"
    "                        RDX01) or a profile file (key = value lines, see README)\n"
    "  --flash-in FILE       flash contents to start with (the profile's flash size)\n"
    "  --flash-out FILE      write the flash at every reboot and at exit\n"
    "  --events FILE         write the event log as JSON lines\n"
    "Line:\n"
    "  --device PATH         serve this serial device instead of a new pseudo-terminal\n"
    "  --baud N              pace the line at N baud (default: no pacing)\n"
    "  --bits-per-byte N     bits per byte for the pacing (11 for 8E1, the default; 10 for 8N1)\n"
    "  --idle-timeout S      stop after S seconds without a byte from the tool (default 600,\n"
    "                        0 never)\n"
    "  --burn-step-ms N      time per 64 KiB of the simulated burn (default 5)\n"
    "Faults (probabilities 0..1, per packet or legacy data block):\n"
    "  --seed N              seed of the fault generator (default 1)\n"
    "  --drop-rx P  --drop-tx P        lose packets from / to the tool\n"
    "  --corrupt-rx P  --corrupt-tx P  damage one byte of a packet or data block\n"
    "  --noise P             stray bytes before a reply packet\n"
    "  --block-error P       answer a good legacy transfer block with \"E\"\n"
    "  --delay MS            send every reply MS milliseconds late\n"
    "  --fail CMD=CODE       answer command CMD (address, move, transfer, burn, reboot,\n"
    "                        version, chunk, dump) with STB failure CODE (legacy: \"E\")\n"
    "  --dump-end-after N    end every dump after N packets or blocks\n"
    "  --burn-error          fail the burn half way with an \"E\" report\n"
    "  --malformed KIND      oversized-length or too-many-chunks replies\n";

volatile sig_atomic_t g_signalled = 0;
void OnSignal(int) {
    g_signalled = 1;
}

bool ParseDouble(const char* text, double* value) {
    char* end = nullptr;
    errno = 0;
    *value = std::strtod(text, &end);
    return errno == 0 && end != text && *end == '\0' && *value >= 0 && *value <= 1;
}

bool ParseCount(const char* text, unsigned long* value) {
    char* end = nullptr;
    errno = 0;
    *value = std::strtoul(text, &end, 0);
    return errno == 0 && end != text && *end == '\0' && text[0] != '-' && *value <= 0xFFFFFFFFul;
}

int Fail(const std::string& message) {
    std::cerr << "stbsim: " << message << "\n";
    return 2;
}

bool ReadFile(const std::string& path, Bytes* bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

int MakeFirmware(int argc, char** argv) {
    std::string profileName = "RDX01", out;
    bool newer = false;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--profile" && i + 1 < argc) {
            profileName = argv[++i];
        } else if (a == "--newer-bootloader") {
            newer = true;
        } else if (a.size() > 0 && a[0] != '-' && out.empty()) {
            out = a;
        } else {
            return Fail("make-firmware: unexpected argument '" + a + "'\n" + kUsage);
        }
    }
    if (out.empty()) {
        return Fail("make-firmware: name the output file");
    }
    StbProfile profile;
    std::string error;
    if (!LoadProfile(profileName, &profile, &error)) {
        return Fail(error);
    }
    Bytes image = BuildFirmware(profile, newer);
    std::ofstream file(out, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
    if (!file.flush()) {
        return Fail("cannot write " + out);
    }
    std::cout << out << ": " << image.size() << " bytes for profile " << profile.name << "\n";
    return 0;
}

// Parses the serving options into *o; returns 0, or the exit status after a message.
int ParseServeOptions(int argc, char** argv, StbSimOptions* o) {
    o->idleTimeoutMs = 600 * 1000;
    std::string flashIn;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return -1;
        }
        if (a == "--burn-error") {
            o->faults.burnError = true;
            continue;
        }
        if (i + 1 >= argc) {
            return Fail("option " + a + " needs a value");
        }
        const char* v = argv[++i];
        unsigned long n = 0;
        double p = 0;
        std::string error;
        bool ok = true;
        if (a == "--profile") {
            ok = LoadProfile(v, &o->profile, &error);
            if (!ok) {
                return Fail(error);
            }
        } else if (a == "--device") {
            o->devicePath = v;
        } else if (a == "--flash-in") {
            flashIn = v;
        } else if (a == "--flash-out") {
            o->flashOut = v;
        } else if (a == "--events") {
            o->eventsOut = v;
        } else if (a == "--baud") {
            ok = ParseCount(v, &n) && (o->baud = unsigned(n), true);
        } else if (a == "--bits-per-byte") {
            ok = ParseCount(v, &n) && n >= 7 && n <= 12 && (o->bitsPerByte = unsigned(n), true);
        } else if (a == "--idle-timeout") {
            ok = ParseCount(v, &n) && n < 4000000 && (o->idleTimeoutMs = unsigned(n * 1000), true);
        } else if (a == "--burn-step-ms") {
            ok = ParseCount(v, &n) && (o->timing.burnStepMs = unsigned(n), true);
        } else if (a == "--seed") {
            ok = ParseCount(v, &n) && (o->faults.seed = n, true);
        } else if (a == "--delay") {
            ok = ParseCount(v, &n) && (o->faults.replyDelayMs = unsigned(n), true);
        } else if (a == "--dump-end-after") {
            ok = ParseCount(v, &n) && n < 0x7FFFFFFF && (o->faults.dumpEndAfter = int(n), true);
        } else if (a == "--fail") {
            ok = ParseFailRule(v, &o->faults);
        } else if (a == "--malformed") {
            std::string kind = v;
            ok = kind == "oversized-length" || kind == "too-many-chunks";
            (kind == "oversized-length" ? o->faults.oversizedLength : o->faults.tooManyChunks) = ok;
        } else if (double* target = a == "--drop-rx"       ? &o->faults.dropRx
                                    : a == "--drop-tx"     ? &o->faults.dropTx
                                    : a == "--corrupt-rx"  ? &o->faults.corruptRx
                                    : a == "--corrupt-tx"  ? &o->faults.corruptTx
                                    : a == "--noise"       ? &o->faults.noise
                                    : a == "--block-error" ? &o->faults.blockError
                                                           : nullptr) {
            ok = ParseDouble(v, &p) && (*target = p, true);
        } else {
            return Fail("unknown option " + a + "\n" + kUsage);
        }
        if (!ok) {
            return Fail("bad value '" + std::string(v) + "' for " + a);
        }
    }
    if (!flashIn.empty() && !ReadFile(flashIn, &o->flash)) {
        return Fail("cannot read " + flashIn);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "make-firmware") {
        return MakeFirmware(argc, argv);
    }
    if (argc > 1 && std::string(argv[1]) == "list-profiles") {
        for (const std::string& name : BuiltinProfileNames()) {
            std::cout << name << "\n";
        }
        return 0;
    }
    StbSimOptions options;
    if (int status = ParseServeOptions(argc, argv, &options); status != 0) {
        return status < 0 ? 0 : status;
    }
    signal(SIGINT, OnSignal);
    signal(SIGTERM, OnSignal);
    signal(SIGPIPE, SIG_IGN);
    StbSimServer server(options);
    std::string error;
    if (!server.Start(&error)) {
        return Fail(error);
    }
    std::cout << server.SlavePath() << std::endl;
    std::cerr << "stbsim: profile " << options.profile.name << " ("
              << GenerationName(options.profile.generation) << "), serving " << server.SlavePath()
              << "\n";
    while (!g_signalled && server.Running()) {
        usleep(50 * 1000);
    }
    server.Stop();
    std::vector<std::string> violations = server.Violations();
    for (const std::string& v : violations) {
        std::cerr << "stbsim: protocol violation: " << v << "\n";
    }
    return violations.empty() ? 0 : 1;
}
