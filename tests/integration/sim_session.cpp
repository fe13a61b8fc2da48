#include "tests/integration/sim_session.h"

#include <algorithm>
#include <cstdlib>

namespace integration {
namespace {

int NeverCancel() {
    return 0;
}

uint32_t Slot(const ChunkInfo& c) {
    return c.next != 0 ? c.next : 16 + c.length;
}

}  // namespace

stbsim::StbSimOptions OptionsFor(const std::string& profile) {
    stbsim::StbSimOptions options;
    EXPECT_TRUE(stbsim::BuiltinProfile(profile, &options.profile)) << profile;
    return options;
}

bool EncoderPresent() {
    return std::system("command -v lzma_alone >/dev/null 2>&1") == 0;
}

SimSession::SimSession(stbsim::StbSimOptions options)
    : m_sim(options), m_generation(options.profile.generation) {
    std::string error;
    EXPECT_TRUE(m_sim.Start(&error)) << error;
    ComSetDeviceName(1, m_sim.SlavePath());
    Crc32InitTable();
}

SimSession::~SimSession() {
    ComClose();
    ComSetDeviceName(1, "");
    m_sim.Stop();
}

int SimSession::Connect() {
    if (int r = ComOpen(1, 115200, COM_PARITY_EVEN, 1); r != 0) {
        return r;
    }
    int handshake = 0;
    if (int r = UpgComTest(&handshake, nullptr, NeverCancel); r != 0) {
        return r;
    }
    UpgSetProtocolVersion(handshake);
    int reported = 0;
    if (int r = UpgGetVersionAndChunks(&reported, &m_table); r != 0) {
        return r;
    }
    m_version = reported;
    if (m_version == 0) {
        m_version = m_generation == stbsim::StbGeneration::kOldest ? 0x10 : 0x20;
    }
    UpgSetProtocolVersion(m_version);
    return 0;
}

int SimSession::Upgrade(const Bytes& image, const std::vector<bool>& transfer, Bytes* expected) {
    *expected = m_sim.Flash();
    if (int r = UpgSetAddress(0); r != 0) {
        return r;
    }
    uint32_t offset = 0;
    int total = 0;
    for (uint32_t i = 0; i < m_table.count; ++i) {
        const ChunkInfo& c = m_table.entries[i];
        uint32_t slot = Slot(c);
        int r = 0;
        if (i < transfer.size() && transfer[i]) {
            Bytes data(image.begin() + offset, image.begin() + offset + slot);
            data[8] = uint8_t(c.next >> 24);  // the STB's next, as the upgrade task sets it
            data[9] = uint8_t(c.next >> 16);
            data[10] = uint8_t(c.next >> 8);
            data[11] = uint8_t(c.next);
            std::copy(data.begin(), data.end(), expected->begin() + offset);
            total += int(slot);
            data.resize(2 * slot);  // the transfer's room for the encoded form
            r = UpgTransfer(data.data(), int(slot), nullptr, NeverCancel);
        } else {
            r = UpgMove(c.id, c.id == CHUNK_ID_NO_SLOT ? 0 : c.next);
        }
        if (r != 0) {
            return r;
        }
        offset += slot;
    }
    int burn = UpgBurn(total, nullptr);
    int reboot = UpgReboot();
    return burn != 0 ? burn : reboot;
}

int SimSession::Dump(unsigned start, unsigned size, Bytes* out) {
    Bytes buffer(UPG_DUMP_CAPACITY, 0);
    int length = 0;
    int r = UpgDump(buffer.data(), &length, nullptr, NeverCancel, start, size);
    out->assign(buffer.begin(), buffer.begin() + std::clamp(length, 0, UPG_DUMP_CAPACITY));
    return r;
}

}  // namespace integration
