// A GoogleTest fixture that opens the library's serial port (COM1) on a fresh pseudo-terminal,
// and a log collector for the library's log callback.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "library/link/upgrade.h"
#include "tests/support/pty_pair.h"

// Every line the library logged since the last Clear(), formatted, with its level.
struct LoggedLine {
    int level;
    std::string text;
};
std::vector<LoggedLine>& CollectedLog();
void CollectLog(int level, const char* format, ...);

class PortTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    PtyPair pty;
};
