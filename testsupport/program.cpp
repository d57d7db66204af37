#include "testsupport/program.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <utility>

#include "testsupport/network.h"
#include "testsupport/udp_peer.h"

#ifndef TARVANE_BINARY
#error "TARVANE_BINARY must name the built program"
#endif

namespace tarvane::e2e {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// The variables a started program may need besides its own: where programs are and the
// zone its local time is in.
std::vector<std::string> BaseEnvironment(const ProgramDir& dir) {
    std::vector<std::string> env{"PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin",
                                 "LC_ALL=C.UTF-8", "HOME=" + dir.Root().string(),
                                 "XDG_RUNTIME_DIR=" + dir.Root().string()};
    // The sanitizer builds' settings reach the program too (leak checks off for Qt's caches).
    for (const char* name : {"TZ", "ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"}) {
        if (const char* value = std::getenv(name)) env.push_back(std::string(name) + "=" + value);
    }
    return env;
}

}  // namespace

ProgramDir::ProgramDir(std::string programName) : programName_(std::move(programName)) {
    fs::create_directory(Dir());
    fs::copy_file(TARVANE_BINARY, Executable());
}

std::vector<fs::path> ProgramDir::FilesMatching(const std::string& regex) const {
    const std::regex pattern(regex);
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(Dir())) {
        if (std::regex_match(entry.path().filename().string(), pattern))
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::string> ProgramDir::DailyLines() const {
    std::vector<std::string> lines;
    for (const auto& file : FilesMatching(R"(Tarvane-\d{8}\.TXT)")) {
        const std::string text = ReadFile(file);
        size_t start = 0;
        // Only lines completed by their CR LF count; a line being appended is not there yet.
        for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
            lines.push_back(text.substr(start, end - start));
    }
    lines.erase(lines.begin(),
                lines.begin() + static_cast<long>(std::min(forgotten_, lines.size())));
    return lines;
}

void ProgramDir::ForgetLinesSoFar() { forgotten_ += DailyLines().size(); }

std::vector<std::string> ProgramDir::Messages() const {
    std::vector<std::string> rest;
    for (const auto& line : DailyLines()) rest.push_back(AfterTimeStamp(line).value_or("?" + line));
    return rest;
}

bool ProgramDir::WaitForLastMessage(const std::string& message, Duration limit) const {
    return WaitUntil(
        [&] {
            const auto messages = Messages();
            return !messages.empty() && messages.back() == message;
        },
        limit);
}

std::vector<std::string> ProgramDir::WaitForDailyLines(size_t count, Duration limit) const {
    std::vector<std::string> lines;
    WaitUntil(
        [&] {
            lines = DailyLines();
            return lines.size() >= count;
        },
        limit);
    return lines;
}

std::vector<std::string> OffscreenEnvironment(const ProgramDir& dir) {
    auto env = BaseEnvironment(dir);
    env.push_back("QT_QPA_PLATFORM=offscreen");
    return env;
}

std::vector<std::string> DisplayEnvironment(const ProgramDir& dir, const std::string& display) {
    auto env = BaseEnvironment(dir);
    env.push_back("QT_QPA_PLATFORM=xcb");
    env.push_back("DISPLAY=" + display);
    return env;
}

Tarvane::Tarvane(const ProgramDir& dir, const std::vector<std::string>& environment)
    // Started from elsewhere (the folder above its own): the program must find its directory
    // by itself.
    : process_({dir.Executable().string()}, environment, dir.Root(), dir.OutputFile()) {}

bool Tarvane::WaitUntilListening(Duration limit) {
    return WaitUntil([&] { return UdpPortBound(514) || !process_.Running(); }, limit) &&
           process_.Running();
}

bool Tarvane::WaitUntilReady(ProgramDir& dir, Duration limit) {
    const auto end = Clock::now() + limit;
    if (!WaitUntilListening(limit)) return false;
    const auto left = [&] { return std::chrono::duration_cast<Duration>(end - Clock::now()); };
    const bool probed = WaitUntil(
        [&] {
            SendDatagram("127.0.0.1", "<8>e2e probe");
            return !dir.DailyLines().empty() || !process_.Running();
        },
        left());
    if (!probed || !process_.Running()) return false;
    SendDatagram("127.0.0.1", "<8>e2e ready");
    if (!WaitUntil(
            [&] {
                const auto lines = dir.DailyLines();
                return !lines.empty() && lines.back().ends_with(" 127.0.0.1 <8>e2e ready");
            },
            left()))
        return false;
    dir.ForgetLinesSoFar();
    return true;
}

bool Tarvane::WaitUntilQuiet(Duration limit) {
    auto allAsleep = [this] {
        const fs::path tasks = "/proc/" + std::to_string(process_.Pid()) + "/task";
        std::error_code ec;
        for (const auto& task : fs::directory_iterator(tasks, ec)) {
            // The state follows the parenthesised name: "pid (name) S ...".
            const std::string stat = ReadFile(task.path() / "stat");
            const size_t close = stat.rfind(')');
            if (close == std::string::npos || stat.compare(close + 1, 2, " S") != 0) return false;
        }
        return !ec;
    };
    return WaitUntil(
               [&] { return !process_.Running() || (UdpBytesQueued(514) == 0 && allAsleep()); },
               limit) &&
           process_.Running();
}

std::optional<std::string> AfterTimeStamp(const std::string& line) {
    static const std::regex stamp(R"(^([01]\d|2[0-3]):[0-5]\d:[0-5]\d\.\d{3}:)");
    std::smatch match;
    if (!std::regex_search(line, match, stamp)) return std::nullopt;
    return line.substr(static_cast<size_t>(match.length(0)));
}

}  // namespace tarvane::e2e
