#include "app/app_title.h"

#include <gtest/gtest.h>

namespace tarvane {
namespace {

TEST(ApplicationTitle, NameUpToFirstDotWithLaterLettersLowered) {
    EXPECT_EQ(ApplicationTitleOf("/opt/tools/Tarvane"), "Tarvane");
    EXPECT_EQ(ApplicationTitleOf("/opt/TARVANE.bin.old"), "Tarvane");
    EXPECT_EQ(ApplicationTitleOf("tarVane2.exe"), "tarvane2");
    EXPECT_EQ(ApplicationTitleOf("/a.b/Prog"), "Prog");  // a dot in a directory does not count
    // ":" and "\\" are name characters; every letter is lowered, not only ASCII ones.
    EXPECT_EQ(ApplicationTitleOf("/opt/Tar:vane"), "Tar:vane");
    EXPECT_EQ(ApplicationTitleOf("/opt/TAR\\VANE.exe"), "Tar\\vane");
    EXPECT_EQ(ApplicationTitleOf("/opt/TÄRVANE"), "Tärvane");
    EXPECT_EQ(ApplicationTitleOf("/opt/ÄÖ.x"), "Äö");
    EXPECT_EQ(ApplicationTitleOf("/opt/\U0001D400BC"), "\U0001D400bc");  // first one not split
}

TEST(HandlerErrorText, AddsAStopOnlyAfterCharactersThatSortAfterIt) {
    EXPECT_EQ(HandlerErrorText("'abc' is not a valid integer value"),
              "'abc' is not a valid integer value.");
    EXPECT_EQ(HandlerErrorText("Socket Error # 10061\r\nConnection refused."),
              "Socket Error # 10061\r\nConnection refused.");
    EXPECT_EQ(HandlerErrorText("I/O error 28"), "I/O error 28.");
    EXPECT_EQ(HandlerErrorText("Directory not empty"), "Directory not empty.");
    EXPECT_EQ(HandlerErrorText("odd)"), "odd)");
    EXPECT_EQ(HandlerErrorText("dash-"), "dash-");  // '-' sorts before '.'
    EXPECT_EQ(HandlerErrorText(""), "");
}

TEST(ApplicationErrorText, FormatsKindModuleAddressAndMessage) {
    EXPECT_EQ(ApplicationErrorText("ESocketError", "Tarvane", 0x1234,
                                   "Could not bind socket. Address and port are already in use."),
              "Exception ESocketError in module Tarvane at 00001234.\r\nCould not bind socket. "
              "Address and port are already in use.\r\n");
    EXPECT_EQ(ApplicationErrorText("ESocketError", "Tarvane", 0xABCDEF01,
                                   "Socket Error # 10013\r\nAccess denied."),
              "Exception ESocketError in module Tarvane at ABCDEF01.\r\nSocket Error # "
              "10013\r\nAccess denied.\r\n");
    EXPECT_EQ(ApplicationErrorText("E", "m", 0, "no stop"),
              "Exception E in module m at 00000000.\r\nno stop.\r\n");
}

}  // namespace
}  // namespace tarvane
