// The upgrade library against the STB simulator over a pseudo-terminal: a session starts the
// simulator, points port 1 at it and runs the library's calls as the tasks do.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "library/link/upgrade.h"
#include "tools/stbsim/stbsim.h"

namespace integration {

using stbsim::Bytes;

class SimSession {
  public:
    explicit SimSession(stbsim::StbSimOptions options);
    ~SimSession();

    // Opens the port, runs the handshake and the version and chunk queries, and settles the
    // protocol version as the connect task does (a legacy STB without a version: 0x20, or 0x10
    // for the oldest loaders). Returns the first failing status, or 0.
    int Connect();
    // An upgrade in chunk mode: address 0, then for every chunk either a transfer of its slot
    // from `image` (when `transfer[i]`; the image's header with the STB's next) or a move, then
    // burn and reboot. Returns the first failing status, or 0; *expected receives the flash
    // that the STB should hold afterwards.
    int Upgrade(const Bytes& image, const std::vector<bool>& transfer, Bytes* expected);
    // UpgDump into a buffer of UPG_DUMP_CAPACITY; *out receives the bytes delivered.
    int Dump(unsigned start, unsigned size, Bytes* out);
    void Close() { ComClose(); }

    stbsim::StbSimServer& sim() { return m_sim; }
    const ChunkTable& table() const { return m_table; }
    int version() const { return m_version; }

  private:
    stbsim::StbSimServer m_sim;
    stbsim::StbGeneration m_generation;
    ChunkTable m_table{};
    int m_version = 0;
};

stbsim::StbSimOptions OptionsFor(const std::string& profile);
// True when the external LZMA encoder can be found, so that transfers go compressed.
bool EncoderPresent();

}  // namespace integration
