#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarvane {

// The settings the user keeps. The application holds the one value; the support library's event
// log is handed the retention days as they are stored.
struct tSettings {
    int32_t Severity = 0;
    int32_t DaysOfFilesRetained = 0;
    std::string ExcludedClientIPs;
};

inline constexpr const char* kFileName = "Tarvane.xml";
// A larger settings file is one that cannot be read: the parse of anything up to this size
// stays within a second and tens of megabytes.
inline constexpr size_t kMaxSettingsBytes = 1 << 20;

// Loads the settings from kFileName in the working directory, writing the file of defaults
// first when there is none. False when a failure was caught; it is then reported through the
// exception report and the event log. Never throws.
bool GetSettings(tSettings& settings);

// The part of the load after reading the file: parses its bytes and stores the values one by one
// into settings, setting progress as it goes; raises the load's failures.
void ReadSettingsBytes(const std::string& source, int32_t& progress, tSettings& settings);

// Rewrites kFileName from settings. Replaces the file in one step, so a failure leaves the old
// file as it was; raises EInOutError.
void SaveSettings(const tSettings& settings);

// The seven lines of the settings file.
std::string SettingsFileText(int32_t severity, int32_t daysOfFilesRetained,
                             const std::string& excludedClientIPs);

// Deletes every file (not directory) matching mask, whose last component may hold * and ?.
// Part of the settings unit's required interface; the program itself never calls it.
void DeleteMatchingFiles(const std::string& mask);

}  // namespace tarvane
