#include "tests/library/commands/command_fixture.h"

namespace {
size_t g_cancelAfter = static_cast<size_t>(-1);
}

std::vector<int>& SeenProgress() {
    static std::vector<int> seen;
    return seen;
}

void RecordProgress(int value) {
    SeenProgress().push_back(value);
}

void CancelAfterProgress(size_t reports) {
    g_cancelAfter = reports;
}

int CancelWhenAsked() {
    return SeenProgress().size() >= g_cancelAfter ? 1 : 0;
}

void CommandTest::SetUp() {
    PortTest::SetUp();
    UpgSetProtocolVersion(m_version);
    SeenProgress().clear();
    g_cancelAfter = static_cast<size_t>(-1);
}

std::string CommandTest::LogText() const {
    std::string text;
    for (const LoggedLine& line : CollectedLog())
        text += line.text;
    return text;
}

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

std::vector<uint8_t> Be32(uint32_t value) {
    std::vector<uint8_t> out;
    PutBe32(out, value);
    return out;
}
