#include "platform/process.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

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

TEST(ProcessTest, TheChildStartsWithNoSignalBlockedOrIgnored) {
    // The caller blocks SIGINT and ignores SIGTERM; the child must still be ended by both.
    sigset_t block, old;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    pthread_sigmask(SIG_BLOCK, &block, &old);
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGTERM, &ignore, &previous);
    int code = -2;
    EXPECT_EQ(ProcessOutcome::kExited,
              PlatformRunProgram({"sh", "-c", "kill -INT $$; sleep 5; exit 0"}, 10000, &code));
    EXPECT_EQ(128 + SIGINT, code);
    EXPECT_EQ(ProcessOutcome::kExited,
              PlatformRunProgram({"sh", "-c", "kill -TERM $$; sleep 5; exit 0"}, 10000, &code));
    EXPECT_EQ(128 + SIGTERM, code);
    sigaction(SIGTERM, &previous, nullptr);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}
