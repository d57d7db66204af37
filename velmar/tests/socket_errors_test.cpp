#include "velmar/socket_errors.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace velmar {
namespace {

// Regression: an errno outside the table was printed as it stood ("Socket Error # 12").
TEST(SocketErrors, EveryErrnoBecomesAWinsockCode) {
    struct Case {
        int err;
        const char* message;
    } cases[] = {
        {EACCES, "Socket Error # 10013\r\nAccess denied."},
        {EPERM, "Socket Error # 10013\r\nAccess denied."},
        {EAGAIN, "Socket Error # 10035\r\nOperation would block. "},
        {ECONNREFUSED, "Socket Error # 10061\r\nConnection refused."},
        {ENOTEMPTY, "Socket Error # 10066\r\nDirectory not empty"},
        {ENFILE, "Socket Error # 10024\r\nToo many open files."},
        {EPIPE, "Socket Error # 10058\r\nCannot send or receive after socket is closed."},
        // Winsock's own codes outside the table have no text.
        {ENOMEM, "Socket Error # 8\r\n"},
        {EDQUOT, "Socket Error # 10069\r\n"},
        {ENOENT, "Socket Error # 10107\r\n"},
        {EIO, "Socket Error # 10107\r\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SocketErrorMessage(WinsockCode(c.err)), c.message) << std::strerror(c.err);
    }
    for (int err = 1; err < 200; ++err) {
        const int code = WinsockCode(err);
        EXPECT_TRUE(code == 8 || (code >= 10004 && code <= 11004)) << err << " gives " << code;
    }
}

}  // namespace
}  // namespace velmar
