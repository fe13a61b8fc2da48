// Transfers in both protocols, and the compression of packet transfers through the external
// encoder: the real one where it is installed, and small stand-ins for its failures.
#include <lzma.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/edition.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "tests/library/commands/command_fixture.h"

namespace {

using Wire = std::vector<uint8_t>;

// Sets an environment variable for a scope.
class EnvOverride {
  public:
    EnvOverride(const char* name, const std::string& value) : m_name(name) {
        if (const char* old = std::getenv(name))
            m_old = old, m_had = true;
        setenv(name, value.c_str(), 1);
    }
    ~EnvOverride() { m_had ? setenv(m_name, m_old.c_str(), 1) : unsetenv(m_name); }

  private:
    const char* m_name;
    std::string m_old;
    bool m_had = false;
};

// Bytes no encoder can shorten, the same in every run.
Wire Noise(size_t n) {
    Wire out(n);
    uint32_t x = 12345;
    for (auto& b : out)
        b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 16);
    return out;
}

// Bytes any encoder shortens.
Wire Text(size_t n) {
    std::string pattern = "chunk payload 0123456789 abcdefghij ";
    Wire out(n);
    for (size_t i = 0; i < n; ++i)
        out[i] = static_cast<uint8_t>(pattern[(i * 7 / 5) % pattern.size()]);
    return out;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteScript(const std::string& path, const std::string& body) {
    std::ofstream(path) << "#!/bin/sh\n" << body;
    chmod(path.c_str(), 0755);
}

// Packet transfers with the encoder out of reach, so that the data go uncompressed.
class TransferTest : public CommandTest {
  protected:
    void SetUp() override {
        CommandTest::SetUp();
        ASSERT_TRUE(m_empty.Create("no-encoder-"));
        m_path = std::make_unique<EnvOverride>("PATH", m_empty.Path());
    }
    void TearDown() override {
        m_path.reset();
        CommandTest::TearDown();
    }
    // The transfer line accepted, then each piece of `data` (from `first` on) acknowledged.
    void ExpectPieces(ScriptedPeer& peer, uint32_t s, const Wire& data, uint32_t first = 1) {
        for (uint32_t n = first; (n - 1) * 1024 < data.size(); ++n) {
            size_t offset = (n - 1) * 1024;
            size_t piece = std::min<size_t>(1024, data.size() - offset);
            peer.Expect(ToolData(s, n, data.data() + offset, piece)).Send(StbStatus(s, 0, n));
        }
    }
    static int Transfer(Wire data) {
        int length = static_cast<int>(data.size());
        data.resize(2 * data.size());  // the transfer's room for the encoded form
        return UpgTransfer(data.data(), length, RecordProgress, CancelWhenAsked);
    }
    PlatformPrivateDir m_empty;
    std::unique_ptr<EnvOverride> m_path;
};

}  // namespace

TEST_F(TransferTest, PiecesOf1024WithProgress) {
    Wire data = Noise(2500);
    uint32_t s = NextSerial();
    ScriptedPeer peer(pty);
    peer.Expect(ToolCommand(s, 0, "transfer 2500\r")).Send(StbStatus(s, 0, 0));
    ExpectPieces(peer, s, data);
    EXPECT_EQ(UPG_OK, Run(peer, [&] { return Transfer(data); }));
    EXPECT_EQ((std::vector<int>{40, 81, 100}), SeenProgress());
    EXPECT_EQ("", LogText());
}

TEST_F(TransferTest, ALostAcknowledgementIsAskedForAStaleOneResends) {
    Wire data = Noise(2500);
    uint32_t s = NextSerial();
    ScriptedPeer peer(pty);
    peer.Expect(ToolCommand(s, 0, "transfer 2500\r"))
        .Send(StbStatus(s, 0, 0))
        .Expect(ToolData(s, 1, data.data(), 1024))  // its acknowledgement is lost
        .Expect(ToolRequest(s, 1), 3000)
        .Send(StbStatus(s, 0, 1))
        .Expect(ToolData(s, 2, data.data() + 1024, 1024))
        .Send(StbStatus(s, 0, 1))  // names the previous packet: the same data again
        .Expect(ToolData(s, 2, data.data() + 1024, 1024))
        .Send(StbStatus(s, 0, 2))
        .Expect(ToolData(s, 3, data.data() + 2048, 452))
        .Send(StbStatus(s, 3, 0));  // complete
    EXPECT_EQ(UPG_OK, Run(peer, [&] { return Transfer(data); }));
    EXPECT_EQ((std::vector<int>{40, 81, 100}), SeenProgress());
}

TEST_F(TransferTest, WarningAtTheThirdFailureThenOk) {
    Wire data = Noise(2100);
    uint32_t s = NextSerial();
    ScriptedPeer peer(pty);
    peer.Expect(ToolCommand(s, 0, "transfer 2100\r")).Send(StbStatus(s, 0, 0));
    // Three failures on packet 1: another serial, a passing failure value, a data packet.
    peer.Expect(ToolData(s, 1, data.data(), 1024))
        .Send(StbStatus(s - 1, 0, 1))
        .Expect(ToolRequest(s, 1))
        .Send(StbStatus(s, 1, UPG_ERR_CRC))
        .Expect(ToolRequest(s, 1))
        .Send(StbData(s, 1, {}))
        .Expect(ToolRequest(s, 1))
        .Send(StbStatus(s, 0, 1));
    // One more on packet 2.
    peer.Expect(ToolData(s, 2, data.data() + 1024, 1024))
        .Send(StbStatus(s, 2, 0))
        .Expect(ToolRequest(s, 2))
        .Send(StbStatus(s, 0, 2));
    ExpectPieces(peer, s, data, 3);
    EXPECT_EQ(UPG_OK, Run(peer, [&] { return Transfer(data); }));
    std::string warning = "\r\n->Warning:download packet:1 Error! Retry.";
    // Edition 2.0.1 ends the streak at three failures, 2.0.0 only past three.
    EXPECT_EQ(kEdition200 ? warning + ".OK" : warning + "OK", LogText());
    for (const LoggedLine& line : CollectedLog())
        EXPECT_EQ(2, line.level);
}

TEST_F(TransferTest, EndsOnCancelAndOnTheStbsCode) {
    Wire data = Noise(2500);
    uint32_t s = NextSerial();
    ScriptedPeer peer(pty);
    peer.Expect(ToolCommand(s, 0, "transfer 2500\r"))
        .Send(StbStatus(s, 0, 0))
        .Expect(ToolData(s, 1, data.data(), 1024))
        .Send(StbStatus(s, 0, 1))
        .Expect(ToolStatus(s, 4, 0));  // the STB is told
    CancelAfterProgress(1);
    EXPECT_EQ(UPG_ERR_CANCELLED, Run(peer, [&] { return Transfer(data); }));
    EXPECT_EQ(Concat({ToolCommand(s, 0, "transfer 2500\r"), ToolData(s, 1, data.data(), 1024),
                      ToolStatus(s, 4, 0)}),
              peer.Received());

    CancelAfterProgress(100);
    s = NextSerial();
    ScriptedPeer failing(pty);
    failing.Expect(ToolCommand(s, 0, "transfer 2500\r"))
        .Send(StbStatus(s, 0, 0))
        .Expect(ToolData(s, 1, data.data(), 1024))
        .Send(StbStatus(s, 1, UPG_STB_NO_BUFFER));
    EXPECT_EQ(UPG_STB_NO_BUFFER, Run(failing, [&] { return Transfer(data); }));
}

using LegacyTransferTest = LegacyTest;

TEST_F(LegacyTransferTest, BlocksWithTheirChecksAndTheAnswers) {
    Wire data = Noise(1500);
    Wire first =
        Concat({Wire(data.begin(), data.begin() + 1024), Be32(WireCrc(data.data(), 1024))});
    Wire second =
        Concat({Wire(data.begin() + 1024, data.end()), Be32(WireCrc(data.data() + 1024, 476))});
    struct Case {
        const char* what;
        std::string firstAnswers;  // one per sending of the first block
        int result;
        std::vector<int> progress;
    };
    const Case cases[] = {
        {"four damaged, then accepted", "EEEEO", UPG_OK, {68, 100}},
        {"five damaged", "EEEEE", UPG_ERR_RETRIES, {}},
        {"an answer of neither kind", "EX", UPG_ERR_UNRECOGNISED_REPLY, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SeenProgress().clear();
        ScriptedPeer peer(pty);
        peer.Echo("transferraw 1500\r").Send("O");
        for (char answer : std::string(c.firstAnswers)) {
            peer.Expect(first).Send(std::string(1, answer));
        }
        if (c.result == UPG_OK)
            peer.Expect(second).Send("O");
        EXPECT_EQ(c.result, Run(peer, [&] {
                      return UpgTransfer(data.data(), 1500, RecordProgress, CancelWhenAsked);
                  }));
        EXPECT_EQ(c.progress, SeenProgress());
    }
}

TEST_F(LegacyTransferTest, CancelTellsTheStbNothing) {
    Wire data = Noise(2048);
    ScriptedPeer peer(pty);
    peer.Echo("transferraw 2048\r")
        .Send("O")
        .Expect(Concat({Wire(data.begin(), data.begin() + 1024), Be32(WireCrc(data.data(), 1024))}))
        .Send("O");
    CancelAfterProgress(1);
    EXPECT_EQ(UPG_ERR_CANCELLED, Run(peer, [&] {
                  return UpgTransfer(data.data(), 2048, RecordProgress, CancelWhenAsked);
              }));
    EXPECT_EQ(size_t{17 + 1028}, peer.Received().size());
}

// The real encoder: the STB gets its output, which decodes to the data.
using CompressedTransferTest = CommandTest;

TEST_F(CompressedTransferTest, TheStbReceivesTheEncoderOutputWhichDecodesToTheData) {
    int found = -1;
    PlatformRunProgram({"sh", "-c", "command -v lzma_alone"}, 10000, &found);
    if (found != 0)
        GTEST_SKIP() << "lzma_alone is not installed";

    const Wire data = Text(2500);
    uint32_t s = NextSerial();
    std::string line;
    Wire received;
    ScriptedPeer peer(pty);
    peer.Do([&](const PtyPair& p, std::string& error) {
        WirePacket command;
        if (!ReadWire(p, 20000, &command, error))
            return false;
        line.assign(command.data.begin(), command.data.end());
        unsigned plain = 0, packed = 0;
        if (std::sscanf(line.c_str(), "transfer -z %u %u\r", &plain, &packed) != 2) {
            error = "not a compressed transfer: " + line;
            return false;
        }
        p.Write(StbStatus(s, 0, 0));
        for (uint32_t n = 1; received.size() < packed; ++n) {
            WirePacket piece;
            if (!ReadWire(p, 3000, &piece, error))
                return false;
            if (piece.type != 1 || piece.serial != s || piece.data.size() < 4) {
                error = "not a data packet of the transfer";
                return false;
            }
            received.insert(received.end(), piece.data.begin() + 4, piece.data.end());
            p.Write(StbStatus(s, 0, n));
        }
        return true;
    });
    Wire buffer = data;
    buffer.resize(2 * data.size());
    EXPECT_EQ(UPG_OK, Run(peer, [&] {
                  return UpgTransfer(buffer.data(), 2500, RecordProgress, CancelWhenAsked);
              }));
    EXPECT_EQ("transfer -z 2500 " + std::to_string(received.size()) + "\r", line);
    ASSERT_LT(received.size(), data.size());

    lzma_stream stream = LZMA_STREAM_INIT;
    ASSERT_EQ(LZMA_OK, lzma_alone_decoder(&stream, UINT64_MAX));
    Wire decoded(data.size() + 64);
    stream.next_in = received.data();
    stream.avail_in = received.size();
    stream.next_out = decoded.data();
    stream.avail_out = decoded.size();
    lzma_ret ret = lzma_code(&stream, LZMA_FINISH);
    decoded.resize(decoded.size() - stream.avail_out);
    lzma_end(&stream);
    EXPECT_EQ(LZMA_STREAM_END, ret);
    EXPECT_EQ(data, decoded);
}

// Stand-ins for the encoder, found through PATH, that fail in the ways a real one can.
class EncoderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_bin.Create("fake-encoder-"));
        ASSERT_TRUE(m_notes.Create("encoder-notes-"));
        m_path = std::make_unique<EnvOverride>("PATH", m_bin.Path() + ":/usr/bin:/bin");
        m_noteDir = std::make_unique<EnvOverride>("ENCODER_NOTES", m_notes.Path());
    }
    // The stand-in notes its arguments and its input, then runs `body`.
    void Install(const std::string& body) {
        WriteScript(m_bin.File("lzma_alone"),
                    "printf '%s\\n' \"$@\" > \"$ENCODER_NOTES/args\"\n"
                    "cp \"$2\" \"$ENCODER_NOTES/input\"\n" +
                        body);
    }
    PlatformPrivateDir m_bin;
    PlatformPrivateDir m_notes;
    std::unique_ptr<EnvOverride> m_path;
    std::unique_ptr<EnvOverride> m_noteDir;
};

TEST_F(EncoderTest, ItsOutputReplacesTheDataAndTheScratchFilesGo) {
    Install("printf XYZ > \"$3\"\n");
    Wire data = Text(100);
    Wire buffer = data;
    int compressed = -1;
    ASSERT_EQ(UPG_OK, CompressData(buffer.data(), 100, &compressed, 100));
    EXPECT_EQ(3, compressed);
    EXPECT_EQ(Wire({'X', 'Y', 'Z'}), Wire(buffer.begin(), buffer.begin() + 3));
    EXPECT_EQ(std::string(data.begin(), data.end()), ReadAll(m_notes.File("input")));

    std::istringstream args(ReadAll(m_notes.File("args")));
    std::vector<std::string> argv;
    for (std::string arg; std::getline(args, arg);)
        argv.push_back(arg);
    ASSERT_EQ(5u, argv.size());
    EXPECT_EQ("e", argv[0]);
    EXPECT_EQ("-lc0", argv[3]);
    EXPECT_EQ("-lp2", argv[4]);
    // Both files in one private directory under the temporary directory, gone afterwards.
    std::string dir = argv[1].substr(0, argv[1].rfind('/'));
    EXPECT_EQ(dir + "/temp.in", argv[1]);
    EXPECT_EQ(dir + "/temp.7z", argv[2]);
    EXPECT_EQ(0u, dir.rfind(PlatformJoinPath(PlatformTempDirectory(), "upgrade-"), 0)) << dir;
    struct stat info {};
    EXPECT_NE(0, stat(dir.c_str(), &info));
}

TEST_F(EncoderTest, FailuresLeaveTheDataAsTheyWere) {
    struct Case {
        const char* what;
        const char* body;
        int result;
    };
    const Case cases[] = {
        {"output longer than the room", "head -c 101 /dev/zero > \"$3\"\n", COMPRESS_UNAVAILABLE},
        {"failed after writing some output", "printf XYZ > \"$3\"\nexit 1\n", COMPRESS_UNAVAILABLE},
        {"killed by a signal", "printf XYZ > \"$3\"\nkill -9 $$\n", COMPRESS_UNAVAILABLE},
        {"wrote nothing", "exit 0\n", UPG_ERR_FILE_NOT_OPEN},
        {"wrote an empty file", ": > \"$3\"\n", UPG_ERR_READ_FILE_DATA},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Install(c.body);
        Wire data = Text(100);
        Wire buffer = data;
        int compressed = -1;
        EXPECT_EQ(c.result, CompressData(buffer.data(), 100, &compressed, 100));
        EXPECT_EQ(100, compressed);
        EXPECT_EQ(data, buffer);
    }
}

TEST_F(EncoderTest, AMissingEncoderLeavesTheDataAsTheyWere) {
    EnvOverride path("PATH", m_notes.Path());
    Wire data = Text(100);
    Wire buffer = data;
    int compressed = -1;
    EXPECT_EQ(COMPRESS_UNAVAILABLE, CompressData(buffer.data(), 100, &compressed, 100));
    EXPECT_EQ(100, compressed);
    EXPECT_EQ(data, buffer);
}
