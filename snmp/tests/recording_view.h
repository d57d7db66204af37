#pragma once

#include <string>
#include <vector>

#include "snmp/ups_query.h"

namespace tarvane::testing {

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
