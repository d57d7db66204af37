#pragma once

#include <netinet/in.h>

#include <optional>
#include <string>
#include <vector>

#include "snmp/ups_query.h"

namespace tarvane::testing {

// A fresh directory under $TMPDIR or /tmp that is also $TMPDIR while the object lives.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& Path() const { return path_; }
    // Makes `dir` the temporary directory instead, until the object dies.
    void PointTempDirAt(const std::string& dir);
    // The names of the directory's entries, sorted.
    std::vector<std::string> Entries() const;

  private:
    std::string path_;
    std::optional<std::string> oldTmpDir_;
};

std::string ReadFileBytes(const std::string& path);

struct Datagram {
    std::string data;
    std::string senderAddress;
    int senderPort = 0;
};

// A bound IPv4 UDP socket playing the agent or some other host.
class UdpPeer {
  public:
    explicit UdpPeer(const std::string& address = "127.0.0.1", int port = 0);
    ~UdpPeer();
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;
    int Port() const { return port_; }
    const std::string& Address() const { return address_; }
    std::optional<Datagram> Receive(int timeoutMs);
    void SendTo(const std::string& address, int port, const std::string& data);

  private:
    int fd_ = -1;
    std::string address_;
    int port_ = 0;
};

// Records the view calls and the open action in the order they happen.
class RecordingView : public ReplyView {
  public:
    void AddLine(const std::string& text) override { events.push_back("AddLine " + text); }
    void TrimToFit() override { events.push_back("TrimToFit"); }
    OpenAction Opener() {
        return [this](const std::string& path) {
            events.push_back("Open " + path);
            opened.push_back(path);
        };
    }
    std::vector<std::string> events;
    std::vector<std::string> opened;
};

}  // namespace tarvane::testing
