#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "library/link/upgrade.h"
#include "platform/edition.h"

namespace {

TEST(StatusTexts, KnownCodesGiveTheirTextWithALineBreak) {
    struct Case {
        int code;
        const char* text;
    } cases[] = {
        {UPG_OK, "Success!"},
        {UPG_ERR_CONNECT_PORT, "Can not connect serial port!"},
        {UPG_ERR_CANCELLED, "User canceled the operate"},
        {UPG_ERR_CANCELLED_2, "User canceled the operate"},
        {UPG_ERR_MALLOC, "Malloc memory error!"},
        {UPG_ERR_MALLOC_2, "Malloc memory error"},
        {UPG_ERR_SEND_HEAD, "Send packet head error!"},
        {UPG_ERR_SEND_PACKET, "Send Packet Error!Please Check serial port device"},
        {UPG_STB_ADDRESS_OVERFLOW, "STB set address  overflow!"},
        {UPG_STB_DUMP_INCOMPLETE, "STB not dump all data!"},
    };
    for (const Case& c : cases) {
        char buffer[256];
        ASSERT_EQ(UpgGetErrorText(c.code, buffer), 1) << c.code;
        EXPECT_EQ(std::string(buffer), std::string(c.text) + "\r\n");
    }
}

TEST(StatusTexts, UnknownCodesLeaveTheBufferAlone) {
    for (int code : {41, 43, -1, 0x10007}) {
        char buffer[256] = "untouched";
        EXPECT_EQ(UpgGetErrorText(code, buffer), 0) << code;
        EXPECT_STREQ(buffer, "untouched");
    }
}

TEST(StatusTexts, EditionDifferences) {
    char buffer[256] = "untouched";
    if constexpr (kEdition200) {
        EXPECT_EQ(UpgGetErrorText(UPG_COMMAND_EXECUTED, buffer), 0);
        EXPECT_STREQ(UpgGetLibraryVersion(), "3.0.0b");
    } else {
        ASSERT_EQ(UpgGetErrorText(UPG_COMMAND_EXECUTED, buffer), 1);
        EXPECT_STREQ(buffer, "Command Executed\r\n");
        EXPECT_STREQ(UpgGetLibraryVersion(), "3.0.0d");
    }
}

}  // namespace
