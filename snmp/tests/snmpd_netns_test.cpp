// End to end against a real agent: snmpd serves the UPS address on lo of a private namespace;
// and the client's failures, whose names are looked up where they cannot leave it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
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

struct Tlv {
    unsigned tag = 0;
    std::string_view value;
};

// Takes one BER element off the front of `in`.
Tlv ReadTlv(std::string_view& in) {
    if (in.size() < 2) throw std::runtime_error("truncated element");
    Tlv t;
    t.tag = static_cast<unsigned char>(in[0]);
    std::size_t length = static_cast<unsigned char>(in[1]);
    std::size_t header = 2;
    if (length & 0x80) {
        const std::size_t octets = length & 0x7F;
        if (octets == 0 || octets > 4 || in.size() < 2 + octets) {
            throw std::runtime_error("bad length");
        }
        length = 0;
        for (std::size_t i = 0; i < octets; ++i) {
            length = length << 8 | static_cast<unsigned char>(in[2 + i]);
        }
        header += octets;
    }
    if (in.size() < header + length) throw std::runtime_error("truncated value");
    t.value = in.substr(header, length);
    in.remove_prefix(header + length);
    return t;
}

Tlv ReadTagged(std::string_view& in, unsigned tag) {
    const Tlv t = ReadTlv(in);
    if (t.tag != tag) throw std::runtime_error("unexpected tag " + std::to_string(t.tag));
    return t;
}

long long Number(std::string_view v, bool isSigned) {
    long long n = (isSigned && !v.empty() && (v[0] & 0x80)) ? -1 : 0;
    for (const char c : v) n = n * 256 + static_cast<unsigned char>(c);
    return n;
}

std::string FromHex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return bytes;
}

std::string FindSnmpd() {
    std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    path += ":/usr/sbin:/sbin:/usr/local/sbin";
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find(':', start), path.size());
        const std::string candidate = path.substr(start, end - start) + "/snmpd";
        if (end > start && access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return {};
}

class SnmpdAgent : public ::testing::Test {
  protected:
    void SetUp() override {
        snmpd_ = FindSnmpd();
        if (snmpd_.empty()) GTEST_SKIP() << "snmpd is not installed";
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
    ASSERT_FALSE(hex.empty()) << Log();
    EXPECT_EQ(ReadFile(view.opened[0]), hex + "\r\n");

    const std::string reply = FromHex(hex);
    std::string_view in = reply;
    std::string_view message = ReadTagged(in, 0x30).value;
    EXPECT_TRUE(in.empty());
    EXPECT_EQ(Number(ReadTagged(message, 0x02).value, true), 0);
    EXPECT_EQ(ReadTagged(message, 0x04).value, "tomkin");
    std::string_view pdu = ReadTagged(message, 0xA2).value;
    EXPECT_EQ(Number(ReadTagged(pdu, 0x02).value, true), 1);  // request-id
    EXPECT_EQ(Number(ReadTagged(pdu, 0x02).value, true), 0);  // error-status
    EXPECT_EQ(Number(ReadTagged(pdu, 0x02).value, true), 0);  // error-index
    std::string_view bindings = ReadTagged(pdu, 0x30).value;
    std::string_view binding = ReadTagged(bindings, 0x30).value;
    EXPECT_EQ(ReadTagged(binding, 0x06).value,
              std::string_view("\x2B\x06\x01\x04\x01\x82\x3E\x01\x01\x01\x02\x02\x02\x00", 14));
    EXPECT_EQ(Number(ReadTagged(binding, 0x42).value, false), 27);
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
