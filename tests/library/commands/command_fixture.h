// Shared set-up of the command tests: the library's port on a pseudo-terminal, the log
// collected, a protocol version chosen, and recorders for the progress and cancel callbacks.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "library/commands/commands.h"
#include "tests/support/packet_builder.h"
#include "tests/support/port_fixture.h"
#include "tests/support/scripted_peer.h"

// Every percentage the code under test reported since the fixture's set-up.
std::vector<int>& SeenProgress();
void RecordProgress(int value);
// Asks to cancel once the given number of progress reports have been seen.
void CancelAfterProgress(size_t reports);
int CancelWhenAsked();

class CommandTest : public PortTest {
  protected:
    // `version` is handed to UpgSetProtocolVersion.
    explicit CommandTest(int version = UPG_PROTOCOL_PACKET) : m_version(version) {}
    void SetUp() override;
    // The serial number the next new command will carry.
    uint32_t NextSerial() const { return CommandSerial() + 1; }
    // The collected log lines, joined.
    std::string LogText() const;
    // Runs the peer's script against `call` and checks the script passed.
    template <typename Call>
    auto Run(ScriptedPeer& peer, Call call) {
        peer.Start();
        auto result = call();
        EXPECT_TRUE(peer.Finish()) << peer.Error();
        return result;
    }

  private:
    int m_version;
};

class LegacyTest : public CommandTest {
  protected:
    LegacyTest() : CommandTest(UPG_PROTOCOL_LEGACY) {}
};

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts);
std::vector<uint8_t> Be32(uint32_t value);
