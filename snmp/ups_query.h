#pragma once

#include <string>

#include "snmp/snmp_request.h"
#include "snmp/temp_file.h"
#include "snmp/udp_client.h"

namespace tarvane {

// The site's UPS agent, fixed when the program is built.
inline constexpr const char* kUpsAgentAddress = TARVANE_UPS_ADDRESS;
inline constexpr int kSnmpPort = 161;
inline constexpr int kReplyTimeoutMs = 1000;

// What the query needs of the message view.
class ReplyView {
  public:
    virtual ~ReplyView() = default;
    virtual void AddLine(const std::string& text) = 0;
    virtual void TrimToFit() = 0;
};

// The UPS temperature command: sends the GetRequest to the agent, waits up to a second for its
// reply, and shows the reply's bytes in hexadecimal as a line of the view and in a temporary
// file handed to `open`. An error leaves the command at the step where it happens.
void RunUpsQuery(UdpClient& client, ReplyView& view, const std::string& agentAddress,
                 const OpenAction& open, int agentPort = kSnmpPort);

}  // namespace tarvane
