#include "ups_query.h"

namespace tarvane {

void RunUpsQuery(UdpClient& client, ReplyView& view, const std::string& agentAddress,
                 const OpenAction& open, int agentPort) {
    const std::string request = BuildGetRequest();
    client.Host = agentAddress;
    client.Port = agentPort;
    client.Send(request);
    const std::string text = BytesToHex(client.Receive(kReplyTimeoutMs));
    view.AddLine(text);
    OpenTextInTempFile(text, open);
    view.TrimToFit();
}

}  // namespace tarvane
