#include "tasks/notify.h"

#include <string>

#include "tests/tasks/task_fixture.h"

namespace {

using NotifyTest = TaskTest;

TEST_F(NotifyTest, TextsErrorTextsAndProgressArriveInPostingOrder) {
    PostTaskText("Sync to serial port..", 1);
    PostTaskText("Sync to serial port..", 0);
    PostErrorText(UPG_ERR_TIMEOUT);
    PostErrorText(41);  // no text: nothing is posted
    PostProgress(42);
    OnLibraryProgress(100);
    PostTaskMessage(WM_UPGRADE_DONE, 1, 1);
    std::vector<PostedMessage> messages = CollectQueued();
    ASSERT_EQ(messages.size(), 6u);
    const struct {
        unsigned number;
        uintptr_t wParam;
        intptr_t lParam;
        const char* text;
    } expected[] = {
        {WM_TASK_STATUS, 0, 0, "Sync to serial port.."},
        {WM_TASK_LOG, 0, 0, "Sync to serial port.."},
        {WM_TASK_LOG, 0, 0, "Time out when read data!\r\n"},
        {WM_TASK_PROGRESS, 42, 0, ""},
        {WM_TASK_PROGRESS, 100, 0, ""},
        {WM_UPGRADE_DONE, 1, 1, ""},
    };
    for (size_t i = 0; i < messages.size(); ++i) {
        EXPECT_EQ(messages[i].message, expected[i].number) << i;
        EXPECT_EQ(messages[i].wParam, expected[i].wParam) << i;
        EXPECT_EQ(messages[i].lParam, expected[i].lParam) << i;
        EXPECT_EQ(messages[i].text, expected[i].text) << i;
    }
}

TEST_F(NotifyTest, LibraryLinesAreFilteredByTheWarningLevel) {
    struct Case {
        int warningLevel;
        bool retryShown;    // level 0: a command's retry line
        bool warningShown;  // level 2: a transfer's warning line
    } cases[] = {{0, true, true}, {1, false, true}, {2, false, true}, {3, false, false}};
    for (const Case& c : cases) {
        GetContext()->warningLevel = c.warningLevel;
        OnLibraryLog(0, "\r\n->Error:%s in execute command:%s Retry.", "Time out!\r\n", "burn\r");
        OnLibraryLog(2, "\r\n->Warning:download packet:%u Error! Retry.", 7u);
        std::vector<std::string> lines = Texts(CollectQueued(), WM_TASK_LOG);
        std::vector<std::string> expected;
        if (c.retryShown) {
            expected.push_back("\r\n->Error:Time out!\r\n in execute command:burn\r Retry.");
        }
        if (c.warningShown) {
            expected.push_back("\r\n->Warning:download packet:7 Error! Retry.");
        }
        EXPECT_EQ(lines, expected) << "warningLevel " << c.warningLevel;
    }
}

TEST_F(NotifyTest, LongLinesArriveWhole) {
    GetContext()->warningLevel = 0;
    const std::string longText(3000, 'x');
    OnLibraryLog(0, "%s|%s", longText.c_str(), "end");
    PostTaskText(longText.c_str(), 1);
    std::vector<PostedMessage> messages = CollectQueued();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].text, longText + "|end");
    EXPECT_EQ(messages[1].text, longText);
}

TEST_F(NotifyTest, NothingIsPostedWithoutAMainWindow) {
    m_scope.reset();
    PostTaskText("lost", 1);
    PostErrorText(UPG_ERR_TIMEOUT);
    PostProgress(5);
    OnLibraryLog(3, "%s", "lost");
    EXPECT_EQ(m_window.Size(), 0u);
}

TEST_F(NotifyTest, CancelPollReadsTheFlag) {
    EXPECT_EQ(IsCancelRequested(), 0);
    g_cancelRequested = 1;
    EXPECT_EQ(IsCancelRequested(), 1);
}

}  // namespace
