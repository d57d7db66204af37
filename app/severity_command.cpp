#include "severity_command.h"

#include "velmar/int_syntax.h"

namespace tarvane {

std::string SeverityPanelText(int32_t severity) { return "Severity: " + std::to_string(severity); }

std::string SeverityCaption(const std::string& entry) {
    return "Set SEVERITY level (" + entry + ")";
}

SeverityOutcome RunSeverityCommand(const std::function<void(std::string& entry)>& askEntry,
                                   int32_t& severity, const std::function<void()>& saveSettings) {
    std::string entry = std::to_string(severity);
    askEntry(entry);
    const int32_t value = velmar::StrToInt(entry);
    severity = value;
    saveSettings();
    return {value, SeverityPanelText(value), SeverityCaption(entry)};
}

}  // namespace tarvane
