// Dumps: the packet dump, the legacy whole dump and the legacy block dump, with the bounds that
// keep a hostile reply from writing past the caller's buffer.
#include <cstring>

#include "platform/edition.h"
#include "tests/library/commands/command_fixture.h"

namespace {

using Wire = std::vector<uint8_t>;

Wire Noise(size_t n, uint32_t seed) {
    Wire out(n);
    for (auto& b : out)
        b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
    return out;
}

// A buffer with a guard area after `capacity` bytes: whatever is written there is an overrun.
struct Destination {
    explicit Destination(int capacity) : capacity(capacity), bytes(capacity + 64, 0xA5) {}
    bool GuardIntact() const {
        for (size_t i = capacity; i < bytes.size(); ++i) {
            if (bytes[i] != 0xA5)
                return false;
        }
        return true;
    }
    int capacity;
    Wire bytes;
};

// The packet dump's exchange: for each step, the packet number the tool asks for and the
// STB's answer.
struct DumpStep {
    uint32_t request;
    Wire answer;
};

}  // namespace

using DumpTest = CommandTest;

TEST_F(DumpTest, PacketDumpAsksPacketByPacket) {
    Wire first = Noise(1024, 1);
    uint32_t s = NextSerial();
    ScriptedPeer peer(pty);
    std::vector<DumpStep> steps = {
        {0, StbData(s, 0, Be32(2048))},
        {1, StbData(s, 2, first)},  // not the one asked for: asked again
        {1, StbData(s, 1, first)},
        {2, StbBlankData(s, 2, 1024)},  // erased flash
    };
    peer.Expect(ToolCommand(s, 0, "dump 4096 2048\r")).Send(StbStatus(s, 0, 0));
    for (const DumpStep& step : steps)
        peer.Expect(ToolRequest(s, step.request)).Send(step.answer);
    Destination dest(4096);
    int length = -1;
    EXPECT_EQ(UPG_OK, Run(peer, [&] {
                  return CmdDump(dest.bytes.data(), dest.capacity, &length, RecordProgress,
                                 CancelWhenAsked, 4096, 2048);
              }));
    EXPECT_EQ(2048, length);
    EXPECT_EQ((std::vector<int>{50, 100}), SeenProgress());
    EXPECT_TRUE(std::equal(first.begin(), first.end(), dest.bytes.begin()));
    EXPECT_TRUE(std::all_of(dest.bytes.begin() + 1024, dest.bytes.begin() + 2048,
                            [](uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ("", LogText());  // one failure: no warning yet
}

TEST_F(DumpTest, PacketDumpEndings) {
    struct Case {
        const char* what;
        std::vector<DumpStep> (*steps)(uint32_t s);
        int capacity;
        int result;
    };
    const Case cases[] = {
        {"an empty dump",
         [](uint32_t s) {
             return std::vector<DumpStep>{{0, StbData(s, 0, Be32(0))}};
         },
         4096, UPG_ERR_GENERIC},
        {"the STB stops early",
         [](uint32_t s) {
             return std::vector<DumpStep>{{0, StbData(s, 0, Be32(2048))},
                                          {1, StbData(s, 1, Wire(1024, 1))},
                                          {2, StbStatus(s, 3, 0)}};
         },
         4096, UPG_STB_DUMP_INCOMPLETE},
        {"the STB's code",
         [](uint32_t s) {
             return std::vector<DumpStep>{{0, StbStatus(s, 1, UPG_STB_CHUNK_NOT_FOUND)}};
         },
         4096, UPG_STB_CHUNK_NOT_FOUND},
        {"a total beyond the buffer",
         [](uint32_t s) {
             return std::vector<DumpStep>{{0, StbData(s, 0, Be32(4097))}};
         },
         4096, UPG_ERR_DUMP_LENGTH},
        {"packets beyond the buffer",
         [](uint32_t s) {
             return std::vector<DumpStep>{{0, StbData(s, 0, Be32(1500))},
                                          {1, StbData(s, 1, Wire(1000, 1))},
                                          {2, StbData(s, 2, Wire(1000, 2))}};
         },
         1500, UPG_ERR_DUMP_LENGTH},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        uint32_t s = NextSerial();
        ScriptedPeer peer(pty);
        peer.Expect(ToolCommand(s, 0, "dump 0 0\r")).Send(StbStatus(s, 0, 0));
        for (const DumpStep& step : c.steps(s))
            peer.Expect(ToolRequest(s, step.request)).Send(step.answer);
        Destination dest(c.capacity);
        int length = -1;
        EXPECT_EQ(c.result, Run(peer, [&] {
                      return CmdDump(dest.bytes.data(), dest.capacity, &length, RecordProgress,
                                     CancelWhenAsked, 0, 0);
                  }));
        EXPECT_TRUE(dest.GuardIntact());
    }
}

TEST_F(DumpTest, PacketDumpWarnsAtTheThirdFailureAndCancelTellsTheStb) {
    uint32_t s = NextSerial();
    ScriptedPeer peer(pty);
    peer.Expect(ToolCommand(s, 0, "dump 0 0\r")).Send(StbStatus(s, 0, 0));
    peer.Expect(ToolRequest(s, 0)).Send(StbData(s, 0, Be32(3000)));
    for (int i = 0; i < 4; ++i)
        peer.Expect(ToolRequest(s, 1)).Send(StbStatus(s, 0, 0));
    peer.Expect(ToolRequest(s, 1)).Send(StbData(s, 1, Wire(1000, 7)));
    peer.Expect(ToolStatus(s, 4, 0));
    CancelAfterProgress(1);
    Destination dest(UPG_DUMP_CAPACITY);
    int length = -1;
    EXPECT_EQ(UPG_ERR_CANCELLED, Run(peer, [&] {
                  return CmdDump(dest.bytes.data(), dest.capacity, &length, RecordProgress,
                                 CancelWhenAsked, 0, 0);
              }));
    EXPECT_EQ(3000, length);
    EXPECT_EQ((std::vector<int>{33}), SeenProgress());
    EXPECT_EQ("\r\n->Warning:dump packet:1 Error! Retry..OK", LogText());
}

class LegacyDumpTest : public CommandTest {
  protected:
    LegacyDumpTest() : CommandTest(0x21) {}
    // The header as a 0x21 boot loader sends it: number, length and their checks.
    static Wire BlockHeader(uint32_t number, uint32_t length) {
        return Concat(
            {Be32(number), Be32(length), Be32(HeaderCheck(number)), Be32(HeaderCheck(length))});
    }
    static uint32_t HeaderCheck(uint32_t v) {
        uint8_t le[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
        return WireCrc(le, 4);
    }
    static Wire Body(const Wire& contents) {
        return Concat({contents, Be32(WireCrc(contents.data(), contents.size()))});
    }
    static Wire Answer(char letter, uint32_t number) {
        Wire a = Concat({{uint8_t(letter)}, Be32(number)});
        return Concat({a, Be32(WireCrc(a.data(), 5))});
    }
    static Wire Blank(uint32_t crc = 0x8FA51470) { return Concat({Bytes("BLANKPCK"), Be32(crc)}); }
};

TEST_F(LegacyDumpTest, WireConstants) {
    EXPECT_EQ(0x8FA51470u, WireCrc(Bytes("BLANKPCK").data(), 8));
    EXPECT_EQ(Be32(0x1B6947CC), Be32(HeaderCheck(1)));
    EXPECT_EQ((Wire{0x4F, 0x00, 0x00, 0x00, 0x01, 0xFF, 0x11, 0x89, 0x67}), Answer('O', 1));
}

TEST_F(LegacyDumpTest, BlocksBlankBlocksAndAShortLastBlock) {
    Wire block0 = Noise(1024, 3);
    Wire last = Noise(5, 4);  // shorter than the blank form
    ScriptedPeer peer(pty);
    peer.Echo("dump 0 2053\r")  // size given at 0x21: no total is sent
        .Expect("H")
        .Send(BlockHeader(0, 1024))
        .Expect("G")
        .Send(Body(block0))
        .Expect(Answer('O', 0))
        .Expect("H")
        .Send(BlockHeader(1, 1024))
        .Expect("G")
        .Send(Blank(0x12345678))  // a blank block with a wrong check
        .Expect(Answer('E', 1))
        .Expect("H")
        .Send(BlockHeader(1, 1024))
        .Expect("G")
        .Send(Blank())
        .Expect(Answer('O', 1))
        .Expect("H")
        .Send(BlockHeader(2, 5))
        .Expect("G")
        .Send(Body(last))
        .Expect(Answer('O', 2));
    Destination dest(4096);
    int length = -1;
    EXPECT_EQ(UPG_OK, Run(peer, [&] {
                  return UpgDump(dest.bytes.data(), &length, RecordProgress, CancelWhenAsked, 0,
                                 2053);
              }));
    EXPECT_EQ(2053, length);
    EXPECT_EQ((std::vector<int>{49, 99, 100}), SeenProgress());
    EXPECT_TRUE(std::equal(block0.begin(), block0.end(), dest.bytes.begin()));
    EXPECT_TRUE(std::all_of(dest.bytes.begin() + 1024, dest.bytes.begin() + 2048,
                            [](uint8_t b) { return b == 0xFF; }));
    EXPECT_TRUE(std::equal(last.begin(), last.end(), dest.bytes.begin() + 2048));
}

TEST_F(LegacyDumpTest, AHeaderFailingItsCheckIsAskedForAgain) {
    Wire bad = BlockHeader(0, 16);
    bad[15] ^= 1;
    Wire contents = Noise(16, 5);
    ScriptedPeer peer(pty);
    peer.Echo("dump 0 16\r")
        .Expect("H")
        .Send(bad)
        .Expect("HH")  // the answer to the header, then the new request
        .Send(BlockHeader(0, 16))
        .Expect("G")
        .Send(Body(contents))
        .Expect(Answer('O', 0));
    Destination dest(64);
    int length = -1;
    EXPECT_EQ(UPG_OK, Run(peer, [&] {
                  return RawDumpBlocks(dest.bytes.data(), dest.capacity, &length, RecordProgress,
                                       CancelWhenAsked, 0, 16);
              }));
    EXPECT_TRUE(std::equal(contents.begin(), contents.end(), dest.bytes.begin()));
}

TEST_F(LegacyDumpTest, RepliesBeyondTheBuffersAreRefused) {
    struct Case {
        const char* what;
        unsigned size;
        Wire total;  // sent after the line when the size is 0
        Wire header;
        int capacity;
    };
    const Case cases[] = {
        {"a total beyond the buffer", 0, Be32(4097), {}, 4096},
        {"a negative total", 0, Be32(0xFFFFFFFF), {}, 4096},
        {"a block longer than 1024", 4096, {}, BlockHeader(0, 1025), 4096},
        {"a block placed past the buffer", 3000, {}, BlockHeader(3, 1024), 3500},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedPeer peer(pty);
        peer.Echo("dump 0 " + std::to_string(c.size) + "\r").Send(c.total);
        if (!c.header.empty())
            peer.Expect("H").Send(c.header).Expect("G");
        Destination dest(c.capacity);
        int length = -1;
        EXPECT_EQ(UPG_ERR_DUMP_LENGTH, Run(peer, [&] {
                      return RawDumpBlocks(dest.bytes.data(), dest.capacity, &length,
                                           RecordProgress, CancelWhenAsked, 0, c.size);
                  }));
        EXPECT_TRUE(dest.GuardIntact());
        ComPurge();
    }
}

TEST_F(LegacyDumpTest, VersionTwoZeroReadsTheTotalAndNoHeaderChecks) {
    UpgSetProtocolVersion(0x20);
    Wire contents = Noise(100, 6);
    ScriptedPeer peer(pty);
    peer.Echo("dump 0 4096\r")
        .Send(Be32(100))  // the total wins over the size asked for
        .Expect("H")
        .Send(Concat({Be32(0), Be32(100), Body(contents)}))
        .Expect(Answer('O', 0));
    Destination dest(4096);
    int length = -1;
    EXPECT_EQ(UPG_OK, Run(peer, [&] {
                  return UpgDump(dest.bytes.data(), &length, RecordProgress, CancelWhenAsked, 0,
                                 4096);
              }));
    EXPECT_EQ(100, length);
}

TEST_F(LegacyDumpTest, WholeDumpOfTheOldestLoaders) {
    UpgSetProtocolVersion(0x10);
    Wire contents = Noise(3000, 8);
    Wire check = Be32(WireCrc(contents.data(), contents.size()));
    struct Case {
        const char* what;
        Wire length;
        Wire after;  // sent after the tool's "O"
        int result;
    };
    const Case cases[] = {
        {"with its check", Be32(3000), Concat({contents, check}), UPG_OK},
        {"without its check", Be32(3000), contents, UPG_OK},
        {"a wrong check", Be32(3000), Concat({contents, Be32(0)}), UPG_ERR_READ_DATA},
        {"a negative length", Be32(0x80000000), {}, UPG_ERR_DUMP_LENGTH},
        {"a length beyond the buffer", Be32(UPG_DUMP_CAPACITY + 1), {}, UPG_ERR_DUMP_LENGTH},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SeenProgress().clear();
        ScriptedPeer peer(pty);
        peer.Echo("dump\r").Send(c.length);
        if (!c.after.empty())
            peer.Expect("O").Send(c.after);
        Destination dest(UPG_DUMP_CAPACITY);
        int length = -1;
        EXPECT_EQ(c.result, Run(peer, [&] {
                      return UpgDump(dest.bytes.data(), &length, RecordProgress, CancelWhenAsked, 0,
                                     0);
                  }));
        EXPECT_TRUE(dest.GuardIntact());
        if (c.result == UPG_OK) {
            EXPECT_EQ(3000, length);
            EXPECT_TRUE(std::equal(contents.begin(), contents.end(), dest.bytes.begin()));
            EXPECT_EQ((std::vector<int>{0, 34, 68, 100}), SeenProgress());
        }
    }
}
