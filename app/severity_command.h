#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace tarvane {

// What the severity command leaves for the window: the threshold, the status panel text and
// the menu caption.
struct SeverityOutcome {
    int32_t severity = 0;
    std::string panelText;
    std::string caption;
};

// "Severity: " and the threshold in decimal.
std::string SeverityPanelText(int32_t severity);
// "Set SEVERITY level (" + the entry exactly as typed + ")".
std::string SeverityCaption(const std::string& entry);

// The severity command without its widgets. askEntry receives the proposed text (the current
// threshold in decimal) and leaves in it the entry, which stays the proposed text on cancel.
// The entry is converted under the integer syntax (EConvertError when invalid, nothing
// changed) and stored in severity without range check; then saveSettings runs, and an error
// it raises leaves the command with the new threshold already stored.
SeverityOutcome RunSeverityCommand(const std::function<void(std::string& entry)>& askEntry,
                                   int32_t& severity, const std::function<void()>& saveSettings);

}  // namespace tarvane
