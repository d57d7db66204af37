#include "reception/udp_listener.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "reception/tests/window_loop.h"
#include "testsupport/udp_peer.h"
#include "testsupport/wait.h"
#include "velmar/errors.h"

namespace tarvane {
namespace {

using namespace std::string_literals;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

SocketBinding Loopback(int port = 0) {
    SocketBinding b;
    b.IP = "127.0.0.1";
    b.Port = port;
    return b;
}

// Bytes that differ from one position to the next, NUL included, so a cut or a shift shows.
std::string Pattern(size_t size) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>(i % 251);
    return s;
}

struct Received {
    std::string data;
    std::string senderIP;
    int senderPort = 0;
    int bindingPort = 0;
    std::thread::id thread;
};

class UdpListenerTest : public ::testing::Test {
  protected:
    void SetUp() override { listener.Bindings.push_back(Loopback()); }
    void Record(UdpListener& sender, std::string_view data, SocketBinding& binding) {
        EXPECT_EQ(&sender, &listener);
        if (before) before(data);
        {
            std::lock_guard lock(mutex);
            received.push_back({std::string(data), binding.SenderIP, binding.SenderPort,
                                binding.Port, std::this_thread::get_id()});
        }
        cv.notify_all();
        if (after) after(data);
    }
    void TearDown() override {
        loop.Invoke([&] { listener.Close(); });
    }

    // Opens on the window thread, as the program does.
    void Open() {
        loop.Invoke([&] { listener.Open(); });
        ASSERT_TRUE(listener.Active());
        port = listener.Bindings[0].Port;
    }

    // Waits until `count` datagrams were delivered; ctest's timeout ends a hang.
    std::vector<Received> AwaitReceived(size_t count) {
        std::unique_lock lock(mutex);
        cv.wait(lock, [&] { return received.size() >= count; });
        return received;
    }
    size_t ReceivedCount() {
        std::lock_guard lock(mutex);
        return received.size();
    }

    testing::WindowLoop loop;
    UdpListener listener{
        loop.handOff, [this](UdpListener& sender, std::string_view data, SocketBinding& binding) {
            Record(sender, data, binding);
        }};
    testing::UdpPeer peer;
    int port = 0;
    // Run inside the event, before and after it records the datagram.
    std::function<void(std::string_view)> before;
    std::function<void(std::string_view)> after;
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<Received> received;
};

TEST_F(UdpListenerTest, DatagramsUpToTheBufferSizeAreDeliveredWholeOnTheWindowThread) {
    Open();
    const std::vector<size_t> sizes = {0, 1, 200, 8191, 8192};
    for (size_t size : sizes) peer.Send(port, Pattern(size));
    const std::vector<Received> got = AwaitReceived(sizes.size());
    ASSERT_EQ(got.size(), sizes.size());
    for (size_t i = 0; i < sizes.size(); ++i) {
        SCOPED_TRACE(sizes[i]);
        EXPECT_EQ(got[i].data, Pattern(sizes[i]));
        EXPECT_EQ(got[i].senderIP, "127.0.0.1");
        EXPECT_EQ(got[i].senderPort, peer.Port());
        EXPECT_EQ(got[i].thread, loop.Id());
    }
}

TEST_F(UdpListenerTest, BackToBackDatagramsOneAfterTheOtherInOrder) {
    std::vector<std::string> log;  // window thread only
    std::atomic<bool> secondSent{false};
    before = [&](std::string_view data) {
        log.push_back("enter " + std::string(data));
        // The second datagram is waiting in the socket while the first one's event still runs.
        if (data == "first") {
            EXPECT_TRUE(testing::WaitUntil([&] { return secondSent.load(); }, 10s));
        }
    };
    after = [&](std::string_view data) { log.push_back("leave " + std::string(data)); };
    // Opening after the event's parts are set orders them before the receive thread.
    Open();
    peer.Send(port, "first");
    peer.Send(port, "second");
    secondSent = true;
    AwaitReceived(2);
    loop.Invoke([&] {
        EXPECT_EQ(log, (std::vector<std::string>{"enter first", "leave first", "enter second",
                                                 "leave second"}));
    });
}

TEST_F(UdpListenerTest, EventThatRaisesIsFollowedByNormalDelivery) {
    after = [](std::string_view data) {
        if (data == "std") throw velmar::EConvertError("'<x>' is not a valid integer value");
        if (data == "other") throw 7;
    };
    Open();
    for (const char* d : {"std", "other", "fine"}) peer.Send(port, d);
    const std::vector<Received> got = AwaitReceived(3);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[2].data, "fine");
    EXPECT_TRUE(listener.Active());
}

TEST_F(UdpListenerTest, ThreadedEventRunsOnTheReceiveThread) {
    listener.ThreadedEvent = true;
    Open();
    peer.Send(port, "here");
    const Received got = AwaitReceived(1)[0];
    EXPECT_EQ(got.data, "here");
    EXPECT_NE(got.thread, loop.Id());
    EXPECT_NE(got.thread, std::this_thread::get_id());
}

TEST_F(UdpListenerTest, EachBindingReceivesAndNamesItself) {
    listener.Bindings.push_back(Loopback());  // beside SetUp's
    Open();
    const int second = listener.Bindings[1].Port;
    ASSERT_NE(second, port);
    peer.Send(second, "to second");
    EXPECT_EQ(AwaitReceived(1)[0].bindingPort, second);
    peer.Send(port, "to first");
    EXPECT_EQ(AwaitReceived(2)[1].bindingPort, port);
}

TEST_F(UdpListenerTest, BroadcastOptionFollowsBroadcastEnabled) {
    for (bool enabled : {true, false}) {
        SCOPED_TRACE(enabled);
        listener.BroadcastEnabled = enabled;
        Open();
        int value = -1;
        socklen_t n = sizeof value;
        ASSERT_EQ(
            ::getsockopt(listener.Bindings[0].Handle.get(), SOL_SOCKET, SO_BROADCAST, &value, &n),
            0);
        EXPECT_EQ(value != 0, enabled);
        loop.Invoke([&] { listener.Close(); });
    }
}

TEST_F(UdpListenerTest, BindingToAnAddressOfAnotherMachineRaises10049) {
    UdpListener failing(loop.handOff, {});
    failing.Bindings.push_back(Loopback());
    failing.Bindings[0].IP = "192.0.2.1";  // TEST-NET-1: never an address of this machine
    try {
        failing.Open();
        ADD_FAILURE() << "Open did not raise";
    } catch (const velmar::ESocketError& e) {
        EXPECT_STREQ(e.what(), "Socket Error # 10049\r\nCannot assign requested address.");
    }
    EXPECT_FALSE(failing.Active());
}

TEST_F(UdpListenerTest, CloseEndsPromptlyWithAndWithoutTraffic) {
    for (bool traffic : {false, true}) {
        SCOPED_TRACE(traffic);
        Open();
        std::atomic<bool> stop{false};
        std::thread flood;
        if (traffic) {
            flood = std::thread([&] {
                while (!stop) peer.Send(port, "flood");
            });
            AwaitReceived(ReceivedCount() + 1);
        }
        const auto start = Clock::now();
        loop.Invoke([&] { listener.Close(); });
        const auto took = Clock::now() - start;
        stop = true;
        if (flood.joinable()) flood.join();
        EXPECT_LT(took, std::chrono::seconds(3));
        EXPECT_FALSE(listener.Active());
        EXPECT_FALSE(listener.Bindings[0].HandleAllocated());
    }
}

TEST_F(UdpListenerTest, CloseDiscardsAPendingHandOffWhileDatagramsKeepArriving) {
    Open();
    std::atomic<bool> stop{false};
    std::thread flood([&] {
        while (!stop) peer.Send(port, "flood");
    });
    size_t delivered = 0;
    // The window thread is busy, so the receive thread's next hand-off waits for it; then it
    // closes, as shutdown does.
    loop.Invoke([&] {
        EXPECT_TRUE(testing::WaitUntil([&] { return loop.handOff.PendingCount() > 0; }, 10s));
        delivered = ReceivedCount();
        listener.Close();
    });
    stop = true;
    flood.join();
    EXPECT_EQ(loop.handOff.PendingCount(), 0u);
    loop.Invoke([] {});
    EXPECT_EQ(ReceivedCount(), delivered);
    EXPECT_FALSE(listener.Active());

    // The listener opens again and delivers as before.
    Open();
    peer.Send(port, "again");
    EXPECT_EQ(AwaitReceived(delivered + 1).back().data, "again");
}

// The receive thread must be gone before its socket is closed: the next socket opened gets the
// same descriptor number, and a thread still reading would take its datagrams.
TEST_F(UdpListenerTest, ClosedListenerDoesNotReadAReusedDescriptor) {
    Open();
    const int oldHandle = listener.Bindings[0].Handle.get();
    loop.Invoke([&] { listener.Close(); });
    testing::UdpPeer next;
    EXPECT_EQ(next.Fd(), oldHandle);
    for (int i = 0; i < 50; ++i) peer.Send(next.Port(), "mine");
    int mine = 0;
    while (mine < 50 && next.ReceiveData(5000) == "mine") ++mine;
    EXPECT_EQ(mine, 50);
    EXPECT_EQ(ReceivedCount(), 0u);
}

}  // namespace
}  // namespace tarvane
