// The STB simulator for tests and tools: a simulated boot loader on a pseudo-terminal (or on a
// given serial device), served by its own thread.
//
//   StbSimOptions options;                       // default: the built-in "RDX01" 3.0 STB
//   BuiltinProfile("gen21", &options.profile);   // or another generation (see profile.h)
//   options.faults.seed = 7;                     // faults and failure codes: see faults.h
//   options.faults.dropTx = 0.03;
//   StbSimServer sim(options);
//   std::string error;
//   ASSERT_TRUE(sim.Start(&error)) << error;
//   ... open sim.SlavePath() as the serial port, run the library against it ...
//   sim.Stop();                                  // also done by the destructor
//   EXPECT_EQ(sim.Flash(), expected);            // the flash after the run
//   EXPECT_TRUE(sim.Violations().empty());       // protocol rules the tool broke
//
// The simulator keeps the slave side open itself, so the tool may open and close the port as
// often as it likes. Flash(), Events() and Violations() may be called at any time, also while
// the thread runs; they return copies.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/stbsim/device.h"
#include "tools/stbsim/faults.h"
#include "tools/stbsim/profile.h"

namespace stbsim {

struct StbSimOptions {
    StbProfile profile = DefaultProfile();
    StbFaults faults;
    StbTiming timing;
    // Line-rate pacing: with baud > 0 no byte leaves or is taken from the line faster than
    // baud / bitsPerByte bytes a second (11 bits for 8E1, 10 for 8N1). 0: as fast as the pty.
    unsigned baud = 0;
    unsigned bitsPerByte = 11;
    std::string devicePath;  // empty: create a pseudo-terminal; else serve this device
    Bytes flash;             // empty: the profile's factory flash; else its full contents
    std::string flashOut;    // written at every reboot and when the server stops (empty: never)
    std::string eventsOut;   // JSON lines of the event log, written as they happen (empty: none)
    unsigned idleTimeoutMs = 0;  // stop after this long without a byte from the tool (0: never)

    static StbProfile DefaultProfile();
};

class StbSimServer {
  public:
    explicit StbSimServer(StbSimOptions options);
    ~StbSimServer();
    StbSimServer(const StbSimServer&) = delete;
    StbSimServer& operator=(const StbSimServer&) = delete;

    // Checks the options, opens the line and starts the thread. False with *error when the
    // profile or flash is unusable, or the pty or device cannot be opened.
    bool Start(std::string* error);
    // Stops the thread (waits for it) and writes flashOut. Safe to call more than once.
    void Stop();
    // False once the thread ended (Stop, idle time-out, or a line error).
    bool Running() const { return m_running.load(); }
    // The pty slave device to open (or devicePath). Valid after a successful Start.
    const std::string& SlavePath() const { return m_slavePath; }

    Bytes Flash() const;
    std::vector<SimEvent> Events() const;
    std::vector<std::string> Violations() const;
    unsigned RebootCount() const;

  private:
    void Run();
    void FlushEvents();
    void SaveFlash();

    StbSimOptions m_options;
    std::unique_ptr<StbDevice> m_device;
    mutable std::mutex m_mutex;  // guards m_device
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_running{false};
    int m_fd = -1;       // master side, or the device
    int m_slaveFd = -1;  // our own hold on the slave side (pty only)
    int m_wakeFd[2] = {-1, -1};
    std::string m_slavePath;
    size_t m_eventsWritten = 0;
    unsigned m_rebootsSaved = 0;
    // Pacing state, in microseconds of line time.
    uint64_t m_txFreeUs = 0;
    double m_rxCredit = 0;
    uint64_t m_rxLastUs = 0;
    Bytes m_pendingOut;
};

// Milliseconds of a monotonic clock, as the server feeds them to the device.
uint64_t SimNowMs();

}  // namespace stbsim
