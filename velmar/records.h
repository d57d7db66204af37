#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace velmar {

// The event log's process-wide state.
struct tLog {
    std::string Tag;
    std::string BaseName;
    // Set while one CSV line is appended; tested and set in one atomic step.
    std::atomic<bool> Busy{false};
    std::atomic<int32_t> ErrorCount{0};
    std::string SyslogHost;
    int32_t LogLevel = 0;
    int32_t DaysOfFilesRetained = 0;
    int64_t LastDay = 0;
};

// The support library's one record for the whole process, zero-filled at start.
struct tGlobalSettings {
    std::string SelfName;
    std::string Version;
    std::string HostName;
    tLog Log;
    int32_t CoInitializeCount = 0;
};

extern tGlobalSettings GlobalSettings;

// Back to the zero-filled start of the process, the event log's state with it; for tests, which
// share the one record.
void ResetGlobalSettings();

// One diagnostic entry.
struct tLogRec {
    int32_t Code = 0;
    int32_t Trace = 0;
    std::string Text;
};

// One caught failure, as its catcher describes it.
struct tExceptionRec {
    std::string Function;
    std::string ClassName;
    std::string Message;
    int32_t Trace = 0;
    std::string Notes;
    std::string FileName;
    bool Beep = false;
};

struct tMachineUpTime {
    std::string Text;
    int64_t Ticks = 0;
    double Days = 0;
};

struct tMemoryInfo {
    int32_t MemoryLoad = 0;
    int64_t TotalPhys = 0;
    int64_t AvailPhys = 0;
    int32_t AvailPhysPercent = 0;
    int64_t TotalPageFile = 0;
    int64_t AvailPageFile = 0;
    int32_t AvailPageFilePercent = 0;
    int64_t TotalVirtual = 0;
    int64_t AvailVirtual = 0;
    int32_t AvailVirtualPercent = 0;
    bool Valid = false;
};

}  // namespace velmar
