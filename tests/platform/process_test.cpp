#include "platform/process.h"

#include <gtest/gtest.h>

TEST(ProcessTest, ReportsTheExitStatusOfAProgramFoundInPath) {
    int code = -2;
    EXPECT_EQ(ProcessOutcome::kExited, PlatformRunProgram({"sh", "-c", "exit 3"}, 10000, &code));
    EXPECT_EQ(3, code);
}

TEST(ProcessTest, PassesArgumentsUnchangedWithoutAShell) {
    // Blanks, quotes and a dollar sign reach the program as they are.
    int code = -2;
    EXPECT_EQ(ProcessOutcome::kExited,
              PlatformRunProgram({"sh", "-c", "test \"$1\" = 'a \"b\" $c'", "x", "a \"b\" $c"},
                                 10000, &code));
    EXPECT_EQ(0, code);
}

TEST(ProcessTest, AMissingProgramIsNotStarted) {
    int code = -2;
    EXPECT_EQ(ProcessOutcome::kNotStarted,
              PlatformRunProgram({"./no-such-program-here"}, 1000, &code));
    EXPECT_EQ(-1, code);
    EXPECT_EQ(ProcessOutcome::kNotStarted,
              PlatformRunProgram({"no-such-program-in-path"}, 1000, nullptr));
    EXPECT_EQ(ProcessOutcome::kNotStarted, PlatformRunProgram({}, 1000, nullptr));
}

TEST(ProcessTest, AProgramPastItsLimitIsEnded) {
    int code = -2;
    EXPECT_EQ(ProcessOutcome::kTimedOut, PlatformRunProgram({"sleep", "30"}, 100, &code));
    EXPECT_EQ(-1, code);
}
