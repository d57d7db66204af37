#include "event_log.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <limits>
#include <sstream>
#include <thread>

#include "base/unique_fd.h"
#include "logfiles/logfiles.h"
#include "velmar/syslog.h"
#include "velmar/system.h"

namespace velmar {

std::string CodeText(int32_t code) {
    const int64_t magnitude = code < 0 ? -static_cast<int64_t>(code) : code;
    std::string digits = std::to_string(magnitude);
    if (digits.size() < 5) digits.insert(0, 5 - digits.size(), '0');
    return (code < 0 ? "-" : "") + digits;
}

int LevelDigit(const std::string& codeText) {
    return !codeText.empty() && codeText[0] >= '0' && codeText[0] <= '9' ? codeText[0] - '0' : 0;
}

namespace {

std::string Requoted(std::string text) {
    for (char& c : text) {
        if (c == '"') c = '\'';
    }
    return text;
}

std::string HhMmSs(const tarvane::LocalTime& t) {
    const std::string& sep = TimeSeparator();
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d%s%02d%s%02d", t.hour % 100, sep.c_str(), t.minute % 100,
                  sep.c_str(), t.second % 100);
    return buf;
}

// A small file of the kernel's, read whole; empty when it cannot be read.
std::istringstream KernelText(const char* path) {
    std::string text;
    const tarvane::UniqueFd fd(::open(path, O_RDONLY | O_NOCTTY | O_CLOEXEC));
    if (fd) {
        char buffer[4096];
        for (ssize_t n; (n = ::read(fd.get(), buffer, sizeof buffer)) != 0;) {
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 || text.size() > (1u << 20)) break;
            text.append(buffer, static_cast<size_t>(n));
        }
    }
    return std::istringstream(text);
}

std::string TagColumn(const std::string& tag) {
    std::string t = tag.substr(0, 10);
    t.resize(10, ' ');
    return t;
}

// Releases the CSV flag on every way out of the append.
struct BusyGuard {
    std::atomic<bool>& flag;
    ~BusyGuard() { flag.store(false, std::memory_order_release); }
};

}  // namespace

std::string CsvLine(const tarvane::LocalTime& first, const tarvane::LocalTime& second,
                    const std::string& tag, const std::string& codeText, const std::string& text) {
    return HhMmSs(first) + ",\"[" + TimeOfDayText(second) + "]\",\"" + TagColumn(tag) + "\"," +
           codeText + ",\"" + Requoted(text) + "\"\r\n";
}

std::string GroupThousands(int64_t value) {
    const bool negative = value < 0;
    std::string digits = std::to_string(negative ? -value : value);
    const std::string sep = ThousandsSeparator();
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += sep;
        out += digits[i];
    }
    return (negative ? "-" : "") + out;
}

int32_t Percent(int64_t available, int64_t total) {
    if (total <= 0) return 0;  // no share of nothing, and no NaN cast to an integer
    return static_cast<int32_t>(
        std::nearbyint(static_cast<double>(available) / static_cast<double>(total) * 100.0));
}

void GetMemoryInfo(tMemoryInfo& info) {
    info = tMemoryInfo{};
    struct sysinfo si {};
    if (::sysinfo(&si) != 0) return;
    const int64_t unit = si.mem_unit ? si.mem_unit : 1;
    const int64_t totalRam = static_cast<int64_t>(si.totalram) * unit;
    int64_t availRam = static_cast<int64_t>(si.freeram + si.bufferram) * unit;
    // MemAvailable counts reclaimable caches as the kernel reckons them.
    std::istringstream meminfo = KernelText("/proc/meminfo");
    for (std::string key; meminfo >> key;) {
        int64_t kb = 0;
        meminfo >> kb;
        if (key == "MemAvailable:") availRam = kb * 1024;
        meminfo.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
    if (totalRam <= 0) return;
    info.MemoryLoad = 100 - Percent(availRam, totalRam);
    info.TotalPhys = totalRam;
    info.AvailPhys = availRam;
    info.AvailPhysPercent = Percent(availRam, totalRam);
    info.TotalPageFile = totalRam + static_cast<int64_t>(si.totalswap) * unit;
    info.AvailPageFile = availRam + static_cast<int64_t>(si.freeswap) * unit;
    info.AvailPageFilePercent = Percent(info.AvailPageFile, info.TotalPageFile);

    rlimit limit{};
    int64_t totalVirtual = int64_t{1} << 47;  // user address space without a limit
    if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        totalVirtual = static_cast<int64_t>(limit.rlim_cur);
    }
    int64_t used = 0;
    std::istringstream status = KernelText("/proc/self/status");
    for (std::string key; status >> key;) {
        int64_t kb = 0;
        if (key == "VmSize:" && status >> kb) used = kb * 1024;
        status.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
    if (totalVirtual <= 0) return;
    info.TotalVirtual = totalVirtual;
    info.AvailVirtual = std::max<int64_t>(0, totalVirtual - used);
    info.AvailVirtualPercent = Percent(info.AvailVirtual, info.TotalVirtual);
    info.Valid = true;
}

void LogEntry(tLogRec entry, std::string& csvFileName, const tarvane::Clock& clock) {
    tLog& log = GlobalSettings.Log;
    try {
        if (log.BaseName.empty()) log.BaseName = ProgramFilePath();
        const std::string code = CodeText(entry.Code);
        const int level = LevelDigit(code);

        if (log.DaysOfFilesRetained > 0 && tarvane::DayNumber(clock.Now()) != log.LastDay) {
            tarvane::DeleteExpiredFiles(log.BaseName, "csv", log.DaysOfFilesRetained, clock);
            tarvane::DeleteExpiredFiles("Report", "xls", log.DaysOfFilesRetained, clock);
            log.LastDay = tarvane::DayNumber(clock.Now());
            tMemoryInfo memory;
            GetMemoryInfo(memory);
            tLogRec newDay;
            newDay.Code = 69990;
            newDay.Text =
                "[Function=velmar.LogEntry][Note=New day][Version=" + GlobalSettings.Version +
                "][MemoryLoad=" + std::to_string(memory.MemoryLoad) +
                "%][AvailPhysical=" + std::to_string(memory.AvailPhysPercent) +
                "%][TotalPhysical=" + GroupThousands(memory.TotalPhys) + "bytes]";
            std::string ignored;
            LogEntry(newDay, ignored, clock);
        }

        if (level <= log.LogLevel) {
            csvFileName = log.BaseName + "-" + tarvane::DateStamp(clock.Now()) + ".CSV";
            if (!log.SyslogHost.empty()) {
                try {
                    SendSyslog(code + ": " + Requoted(entry.Text), level, 16, clock);
                } catch (...) {
                    // The forward is a copy: its failure must not cost the CSV line below.
                }
            }
            // Test and set are one step, so two callers never append at once.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
            bool acquired = false;
            for (;;) {
                bool expected = false;
                if (log.Busy.compare_exchange_strong(expected, true, std::memory_order_acquire)) {
                    acquired = true;
                    break;
                }
                if (std::chrono::steady_clock::now() >= deadline) break;
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            if (acquired) {
                BusyGuard guard{log.Busy};
                // Column 1 reads the clock before column 2: never a later first column.
                const tarvane::LocalTime first = clock.Now();
                const tarvane::LocalTime second = clock.Now();
                tarvane::AppendTextToFile(CsvLine(first, second, log.Tag, code, entry.Text),
                                          csvFileName, true);
            }
        }
        log.ErrorCount = 0;
    } catch (...) {
        // Logging is the last resort of every failure path: it counts its own and never throws.
        ++log.ErrorCount;
    }
}

}  // namespace velmar
