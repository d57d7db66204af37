// End to end against a real agent: snmpd serves the UPS address on lo of a private namespace.
#include <gtest/gtest.h>
#include <net/if.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "snmp/tests/snmp_support.h"
#include "snmp/ups_query.h"
#include "velmar/errors.h"

namespace tarvane {
namespace {

using testing::ReadFileBytes;
using testing::RecordingView;
using testing::ScratchDir;

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

bool OnlyLoopback() {
    struct if_nameindex* names = if_nameindex();
    bool only = names != nullptr;
    for (struct if_nameindex* n = names; n && n->if_index != 0; ++n) {
        if (std::string(n->if_name) != "lo") only = false;
    }
    if_freenameindex(names);
    return only;
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
        if (!OnlyLoopback()) GTEST_SKIP() << "needs a private network namespace";
        const std::string add = std::string("ip addr add ") + kUpsAgentAddress + "/32 dev lo";
        ASSERT_EQ(std::system(add.c_str()), 0) << add;
        const std::string conf = dir_.Path() + "/snmpd.conf";
        std::ofstream(conf) << "[snmp] persistentDir " << dir_.Path() << "/persist\n"
                            << "rocommunity tomkin\n"
                            << "override .1.3.6.1.4.1.318.1.1.1.2.2.2.0 uinteger 27\n";
        log_ = dir_.Path() + "/snmpd.log";
        const std::string pidFile = dir_.Path() + "/snmpd.pid";
        const std::string listen = std::string("udp:") + kUpsAgentAddress + ":161";
        pid_ = fork();
        ASSERT_GE(pid_, 0);
        if (pid_ == 0) {
            std::FILE* out = std::freopen(log_.c_str(), "w", stdout);
            if (out) dup2(fileno(out), STDERR_FILENO);
            setenv("MIBS", "", 1);
            execl(snmpd_.c_str(), "snmpd", "-f", "-Lo", "-C", "-c", conf.c_str(), "-p",
                  pidFile.c_str(), "-M", dir_.Path().c_str(), listen.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        ASSERT_TRUE(WaitUntilAnswering()) << "snmpd did not answer:\n" << Log();
    }

    void TearDown() override {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }

    bool WaitUntilAnswering() {
        UdpClient probe;
        probe.Host = kUpsAgentAddress;
        probe.Port = kSnmpPort;
        for (int attempt = 0; attempt < 60; ++attempt) {
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                return false;
            }
            try {
                probe.Send(BuildGetRequest());
                if (!probe.Receive(500).empty()) return true;
            } catch (const velmar::ESocketError&) {
                // Refused until snmpd has bound its port.
                usleep(100000);
            }
        }
        return false;
    }

    std::string Log() const {
        try {
            return ReadFileBytes(log_);
        } catch (const std::exception&) {
            return {};
        }
    }

    ScratchDir dir_;
    std::string snmpd_;
    std::string log_;
    pid_t pid_ = -1;
};

TEST_F(SnmpdAgent, QueryShowsAGetResponseWithTheTemperature) {
    UdpClient client;
    RecordingView view;
    RunUpsQuery(client, view, kUpsAgentAddress, view.Opener());
    ASSERT_EQ(view.events.size(), 3u) << Log();
    const std::string hex = view.events[0].substr(std::string("AddLine ").size());
    ASSERT_FALSE(hex.empty()) << Log();
    EXPECT_EQ(ReadFileBytes(view.opened[0]), hex + "\r\n");

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

}  // namespace
}  // namespace tarvane
