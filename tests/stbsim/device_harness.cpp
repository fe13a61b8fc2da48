#include "tests/stbsim/device_harness.h"

namespace stbsim::testing {

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

StbProfile Profile(const std::string& name) {
    StbProfile p;
    EXPECT_TRUE(BuiltinProfile(name, &p)) << name;
    return p;
}

Bytes MakePacket(uint8_t type, uint32_t serial, uint8_t retry, const Bytes& data) {
    Bytes h = {'H', 'E', 'A', 'D', type, 0};
    AppendBe32(h, serial);
    h.push_back(retry);
    AppendBe32(h, uint32_t(data.size()));
    AppendBe32(h, Crc32(h.data() + 4, 11));
    h.insert(h.end(), data.begin(), data.end());
    AppendBe32(h, Crc32(data));
    return h;
}

Bytes CommandPacket(const std::string& line, uint32_t serial, uint8_t retry) {
    return MakePacket(0, serial, retry, Text(line));
}

Bytes NumberPacket(uint8_t type, uint32_t serial, uint32_t number, const Bytes& piece) {
    Bytes data;
    AppendBe32(data, number);
    data.insert(data.end(), piece.begin(), piece.end());
    return MakePacket(type, serial, 0, data);
}

std::vector<WirePacket> ParsePackets(const Bytes& wire) {
    std::vector<WirePacket> packets;
    size_t at = 0;
    while (at < wire.size()) {
        if (wire.size() - at < 23 ||
            std::string(wire.begin() + at, wire.begin() + at + 4) != "HEAD") {
            ADD_FAILURE() << "stray bytes at " << at << " of " << wire.size();
            break;
        }
        const uint8_t* h = wire.data() + at;
        EXPECT_EQ(Crc32(h + 4, 11), ReadBe32(h + 15)) << "header CRC";
        WirePacket p;
        p.type = h[4];
        p.blank = h[5];
        p.serial = ReadBe32(h + 6);
        p.length = ReadBe32(h + 11);
        uint32_t onWire = (p.blank && p.type == 1) ? 4 : p.length;
        if (wire.size() - at < 19 + onWire + 4) {
            ADD_FAILURE() << "truncated packet";
            break;
        }
        p.data.assign(h + 19, h + 19 + onWire);
        EXPECT_EQ(Crc32(p.data), ReadBe32(h + 19 + onWire)) << "data CRC";
        if (onWire != p.length) {
            p.data.resize(p.length, 0xFF);
        }
        packets.push_back(p);
        at += 19 + onWire + 4;
    }
    return packets;
}

std::pair<uint8_t, uint32_t> StatusOf(const WirePacket& p) {
    EXPECT_EQ(p.type, 3);
    EXPECT_EQ(p.data.size(), 5u);
    if (p.data.size() != 5) {
        return {0xFF, 0};
    }
    return {p.data[0], ReadBe32(p.data.data() + 1)};
}

DeviceHarness::DeviceHarness(const std::string& profileName, StbFaults faults, StbTiming timing)
    : m_device(Profile(profileName), faults, timing) {}

Bytes DeviceHarness::Send(const Bytes& bytes) {
    m_device.Receive(bytes.data(), bytes.size(), m_now);
    return Wait(0);
}

Bytes DeviceHarness::Wait(uint64_t ms) {
    Bytes all, reply;
    uint64_t end = m_now + ms;
    // Step through the device's own deadlines so that timed output keeps its order.
    for (;;) {
        uint64_t next = std::min(end, std::max(m_now, m_device.NextDeadline()));
        m_now = next;
        m_device.Advance(m_now);
        while (m_device.TakeReply(m_now, &reply)) {
            all.insert(all.end(), reply.begin(), reply.end());
        }
        if (m_now >= end) {
            return all;
        }
    }
}

std::vector<WirePacket> DeviceHarness::Command(const std::string& line) {
    return ParsePackets(Send(CommandPacket(line, ++m_serial)));
}

void DeviceHarness::Handshake() {
    Bytes echo = Send("comtest 18\r");
    ASSERT_EQ(echo, Text("comtest 18\r"));
    std::string banner = "@VOR PROTOCOL 3.0+";
    Bytes reply = Send(banner);
    ASSERT_EQ(reply.size(), banner.size());
    for (size_t i = 0; i < banner.size(); ++i) {
        ASSERT_EQ(reply[i], uint8_t(0xFF - uint8_t(banner[i])));
    }
}

Bytes DeviceHarness::RawLine(const std::string& line) {
    Bytes after;
    for (size_t i = 0; i < line.size(); ++i) {
        Bytes out = Send(Bytes{uint8_t(line[i])});
        EXPECT_FALSE(out.empty()) << "no echo of byte " << i << " of " << line;
        if (out.empty()) {
            return {};
        }
        EXPECT_EQ(out[0], uint8_t(line[i]));
        after.assign(out.begin() + 1, out.end());
    }
    return after;
}

int DeviceHarness::Count(const std::string& kind) const {
    int n = 0;
    for (const SimEvent& e : m_device.Events()) {
        n += e.kind == kind;
    }
    return n;
}

}  // namespace stbsim::testing
