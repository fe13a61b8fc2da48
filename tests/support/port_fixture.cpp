#include "tests/support/port_fixture.h"

#include <cstdarg>
#include <cstdio>

std::vector<LoggedLine>& CollectedLog() {
    static std::vector<LoggedLine> lines;
    return lines;
}

void CollectLog(int level, const char* format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    CollectedLog().push_back({level, buffer});
}

void PortTest::SetUp() {
    ASSERT_TRUE(pty.ok());
    Crc32InitTable();
    CollectedLog().clear();
    UpgSetLogCallback(CollectLog);
    ComSetDeviceName(1, pty.slavePath());
    ASSERT_EQ(ComOpen(1, 115200, COM_PARITY_NONE, 1), UPG_OK);
}

void PortTest::TearDown() {
    ComClose();
    ComSetDeviceName(1, "");
    UpgSetLogCallback(nullptr);
}
