// End to end against a real agent: snmpd serves the UPS address on lo of a private namespace;
// and the client's failures, whose names are looked up where they cannot leave it.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "snmp/tests/recording_view.h"
#include "snmp/ups_query.h"
#include "testsupport/network.h"
#include "testsupport/process.h"
#include "testsupport/temp_dir.h"
#include "velmar/errors.h"

namespace tarvane {
namespace {

using testing::ReadFile;
using testing::RecordingView;
using testing::TempDir;
using namespace std::chrono_literals;

class SnmpdAgent : public ::testing::Test {
  protected:
    void SetUp() override {
        snmpd_ =
            e2e::RunCommand({"sh", "-c", "PATH=$PATH:/usr/sbin:/sbin command -v snmpd"}).output;
        if (snmpd_.empty()) GTEST_SKIP() << "snmpd is not installed";
        snmpd_.pop_back();  // the line break
        // The address goes onto lo: never outside a private namespace.
        if (!e2e::InPrivateNetwork()) GTEST_SKIP() << "needs a private network namespace";
        e2e::AddLoopbackAddress(kUpsAgentAddress);
        const std::string conf = dir_.path() / "snmpd.conf";
        testing::WriteFile(conf, "[snmp] persistentDir " + (dir_.path() / "persist").string() +
                                     "\nrocommunity tomkin\n"
                                     "override .1.3.6.1.4.1.318.1.1.1.2.2.2.0 uinteger 27\n");
        agent_.emplace(std::vector<std::string>{snmpd_, "-f", "-Lo", "-C", "-c", conf, "-p",
                                                dir_.path() / "snmpd.pid", "-M", dir_.path(),
                                                std::string("udp:") + kUpsAgentAddress + ":161"},
                       std::vector<std::string>{"MIBS="}, dir_.path(), log_);
        ASSERT_TRUE(WaitUntilAnswering()) << "snmpd did not answer:\n" << Log();
    }

    bool WaitUntilAnswering() {
        UdpClient probe;
        probe.Host = kUpsAgentAddress;
        probe.Port = kSnmpPort;
        return testing::WaitUntil(
                   [&] {
                       try {
                           probe.Send(BuildGetRequest());
                           return !probe.Receive(500).empty() || !agent_->Running();
                       } catch (const velmar::ESocketError&) {
                           return !agent_->Running();  // refused until snmpd has bound its port
                       }
                   },
                   30s) &&
               agent_->Running();
    }

    std::string Log() const { return ReadFile(log_); }

    TempDir dir_;
    std::string snmpd_;
    const std::string log_ = dir_.path() / "snmpd.log";
    std::optional<e2e::Process> agent_;
};

TEST_F(SnmpdAgent, QueryShowsAGetResponseWithTheTemperature) {
    UdpClient client;
    RecordingView view;
    RunUpsQuery(client, view, kUpsAgentAddress, view.Opener());
    ASSERT_EQ(view.events.size(), 3u) << Log();
    const std::string hex = view.events[0].substr(std::string("AddLine ").size());
    EXPECT_EQ(ReadFile(view.opened[0]), hex + "\r\n");

    // The request answered: a GetResponse with the gauge 27 in the NULL's place, so every
    // length around it one more.
    EXPECT_EQ(hex,
              "302D0201000406746F6D6B696EA220020101020100020100"
              "30153013060E2B06010401823E01010102020200"
              "42011B")
        << Log();
}

// A name is looked up, so only where the resolver cannot reach out.
TEST(UdpClientSend, ReportsOversizeAndBadAddressWithTheirTexts) {
    if (!e2e::InPrivateNetwork()) GTEST_SKIP() << "needs a private network namespace";
    const struct {
        std::string host;
        std::size_t size;
        const char* message;
    } cases[] = {
        {"127.0.0.1", 70000, "Package Size Too Big."},
        {"ups.example", 46, "Socket Error # 11001\r\nHost not found."},
        {"", 46, "Socket Error # 11001\r\nHost not found."},
    };
    UdpClient client;
    client.Port = 9;
    for (const auto& c : cases) {
        client.Host = c.host;
        try {
            client.Send(std::string(c.size, 'x'));
            ADD_FAILURE() << c.host;
        } catch (const velmar::ESocketError& e) {
            EXPECT_STREQ(e.what(), c.message) << c.host;
        }
    }
}

}  // namespace
}  // namespace tarvane
