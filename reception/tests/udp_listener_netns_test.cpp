// Port 514 and the site's addresses, in a private network namespace of this test's own.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "reception/tests/window_loop.h"
#include "reception/udp_listener.h"
#include "testsupport/udp_peer.h"
#include "velmar/errors.h"
#include "velmar/socket_errors.h"

namespace tarvane {
namespace {

constexpr const char* kLocal = "10.20.30.1";
constexpr const char* kBroadcast = "10.20.30.255";

class ListenerOn514 : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // A local network on lo, with its broadcast address.
        ASSERT_EQ(std::system("ip addr replace 10.20.30.1/24 brd + dev lo"), 0);
    }

    void SetUp() override {
        listener.BroadcastEnabled = true;
        listener.DefaultPort = 514;
        loop.Invoke([&] { listener.Open(); });
    }
    void TearDown() override {
        loop.Invoke([&] { listener.Close(); });
    }

    std::string Next() {
        std::unique_lock lock(mutex);
        cv.wait(lock, [&] { return received.size() > taken; });
        return received[taken++];
    }

    testing::WindowLoop loop;
    UdpListener listener{loop.handOff,
                         [this](UdpListener&, std::string_view data, SocketBinding& b) {
                             std::lock_guard lock(mutex);
                             received.push_back(std::string(data) + " from " + b.SenderIP);
                             cv.notify_all();
                         }};
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<std::string> received;
    size_t taken = 0;
};

TEST_F(ListenerOn514, ReceivesOnEveryAddressAndTheBroadcastAddress) {
    ASSERT_EQ(listener.Bindings.size(), 1u);
    EXPECT_EQ(listener.Bindings[0].IP, "0.0.0.0");
    EXPECT_EQ(listener.Bindings[0].Port, 514);

    testing::UdpPeer peer(kLocal);
    peer.EnableBroadcast();
    for (const char* to : {"127.0.0.1", kLocal, kBroadcast}) {
        peer.SendTo(to, 514, std::string("to ") + to);
        EXPECT_EQ(Next(), std::string("to ") + to + " from " + kLocal);
    }
}

// Drops the capability to bind low ports, as for a user who has not set it on the program, and
// exits 0 when opening on 514 raises the access error.
[[noreturn]] void OpenWithoutCapability() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    ::syscall(SYS_capget, &header, data);
    data[CAP_NET_BIND_SERVICE / 32].effective &= ~(1u << (CAP_NET_BIND_SERVICE % 32));
    if (::syscall(SYS_capset, &header, data) != 0) std::_Exit(2);
    HandOff handOff([] {});
    UdpListener listener(handOff, {});
    listener.DefaultPort = 514;
    try {
        listener.Open();
    } catch (const velmar::ESocketError& e) {
        std::fprintf(stderr, "%s", e.what());
        std::_Exit(e.what() == std::string("Socket Error # 10013\r\nAccess denied.") ? 0 : 1);
    }
    std::_Exit(3);
}

TEST(ListenerWithoutCapability, Port514IsAccessDenied) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(OpenWithoutCapability(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace tarvane
