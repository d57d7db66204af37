#include "snmp/ups_query.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <future>

#include "snmp/tests/recording_view.h"
#include "testsupport/temp_dir.h"
#include "testsupport/udp_peer.h"
#include "velmar/errors.h"

namespace tarvane {
namespace {

using testing::Datagram;
using testing::ReadFile;
using testing::RecordingView;
using testing::TempDir;
using testing::UdpPeer;

constexpr int kAgentWaitMs = 10000;

// A port nobody listens on: one just given up.
int ClosedPort() { return UdpPeer().Port(); }

class UpsQuery : public ::testing::Test {
  protected:
    // Runs one query against the fake agent, which hands the request to `answer`.
    template <typename Answer>
    Datagram Query(Answer answer) {
        auto served = std::async(std::launch::async, [&] {
            std::optional<Datagram> request = agent.Receive(kAgentWaitMs);
            if (request) answer(*request);
            return request;
        });
        try {
            RunUpsQuery(client, view, agent.Address(), view.Opener(), agent.Port());
        } catch (...) {
            served.wait();
            throw;
        }
        std::optional<Datagram> request = served.get();
        if (!request) throw std::runtime_error("the agent got no request");
        return *request;
    }
    void Reply(const Datagram& request, const std::string& data) {
        agent.SendTo(request.senderAddress, request.senderPort, data);
    }

    TempDir dir;
    UdpPeer agent;
    UdpClient client;
    RecordingView view;
};

TEST_F(UpsQuery, NoReplyAddsAnEmptyLineAndOpensAFileHoldingOnlyCrLf) {
    const Datagram request = Query([](const Datagram&) {});
    EXPECT_EQ(request.data, BuildGetRequest());
    ASSERT_EQ(view.opened.size(), 1u);
    const std::string path = view.opened[0];
    EXPECT_EQ(view.events, (std::vector<std::string>{"AddLine ", "Open " + path, "TrimToFit"}));
    EXPECT_EQ(std::filesystem::path(path).parent_path(), dir.path());
    EXPECT_EQ(ReadFile(path), "\r\n");
    // Nothing but the text file is left in the temporary folder.
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{std::filesystem::path(path).filename()});
}

TEST_F(UpsQuery, TwoQueriesLeaveFromTheSameLocalPort) {
    const Datagram first = Query([&](const Datagram& r) { Reply(r, "\x01"); });
    const Datagram second = Query([&](const Datagram& r) { Reply(r, "\x02"); });
    EXPECT_EQ(first.senderPort, second.senderPort);
    EXPECT_EQ(second.data, BuildGetRequest());
    EXPECT_EQ(view.events[0], "AddLine 01");
    EXPECT_EQ(view.events[3], "AddLine 02");
}

TEST_F(UpsQuery, LateReplyToTheFirstQueryIsNotShownByTheSecond) {
    const Datagram first = Query([](const Datagram&) {});
    // On loopback the datagram is queued at the client by the time sendto returns.
    Reply(first, "late");
    Query([&](const Datagram& r) { Reply(r, "now"); });
    ASSERT_EQ(view.events.size(), 6u);
    EXPECT_EQ(view.events[0], "AddLine ");
    EXPECT_EQ(view.events[3], "AddLine " + BytesToHex("now"));
    EXPECT_EQ(ReadFile(view.opened[1]), BytesToHex("now") + "\r\n");
}

TEST_F(UpsQuery, DatagramsFromAnyoneButTheAgentArePassedOver) {
    UdpPeer otherAddress("127.0.0.2");
    UdpPeer otherPort("127.0.0.1");
    Query([&](const Datagram& r) {
        otherAddress.SendTo(r.senderAddress, r.senderPort, "spoofed");
        otherPort.SendTo(r.senderAddress, r.senderPort, "spoofed");
        Reply(r, "real");
    });
    ASSERT_FALSE(view.events.empty());
    EXPECT_EQ(view.events[0], "AddLine " + BytesToHex("real"));
}

TEST_F(UpsQuery, ReplyOfTheBufferSizeIsShownAndALargerOneRaises10040) {
    Query([&](const Datagram& r) { Reply(r, std::string(8192, '\x5A')); });
    ASSERT_EQ(view.events.size(), 3u);
    std::string hex;
    for (int i = 0; i < 8192; ++i) hex += "5A";
    EXPECT_EQ(view.events[0], "AddLine " + hex);
    view.events.clear();
    try {
        Query([&](const Datagram& r) { Reply(r, std::string(8193, 'x')); });
        ADD_FAILURE();
    } catch (const velmar::ESocketError& e) {
        EXPECT_STREQ(e.what(), "Socket Error # 10040\r\nMessage too long.");
    }
    EXPECT_TRUE(view.events.empty());
}

TEST_F(UpsQuery, FailedFileWriteLeavesTheLineButSkipsOpeningAndTrimming) {
    ::setenv("TMPDIR", (dir.path() / "missing").c_str(), 1);
    EXPECT_THROW(Query([&](const Datagram& r) { Reply(r, "\x2A"); }), velmar::EInOutError);
    EXPECT_EQ(view.events, std::vector<std::string>{"AddLine 2A"});
}

TEST_F(UpsQuery, PortUnreachableRaisesConnectionRefusedAndAddsNothing) {
    try {
        RunUpsQuery(client, view, "127.0.0.1", view.Opener(), ClosedPort());
        ADD_FAILURE();
    } catch (const velmar::ESocketError& e) {
        EXPECT_STREQ(e.what(), "Socket Error # 10061\r\nConnection refused.");
    }
    EXPECT_TRUE(view.events.empty());
    EXPECT_TRUE(dir.Entries().empty());
}

TEST_F(UpsQuery, RefusalLeftOverFromAnEarlierSendDoesNotFailTheNextQuery) {
    client.Host = "127.0.0.1";
    client.Port = ClosedPort();
    client.Send(BuildGetRequest());
    Query([&](const Datagram& r) { Reply(r, "\x1B"); });
    ASSERT_FALSE(view.events.empty());
    EXPECT_EQ(view.events[0], "AddLine 1B");
}

}  // namespace
}  // namespace tarvane
