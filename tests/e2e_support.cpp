#include "tests/e2e_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

#ifndef TARVANE_BINARY
#error "TARVANE_BINARY must name the built program"
#endif
#ifndef TARVANE_ATSPI_TREE
#error "TARVANE_ATSPI_TREE must name the script that prints the accessible tree"
#endif

extern char** environ;

namespace tarvane::e2e {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

bool WaitUntil(const std::function<bool()>& condition, Duration limit) {
    const auto end = Clock::now() + limit;
    for (;;) {
        if (condition()) return true;
        if (Clock::now() >= end) return false;
        std::this_thread::sleep_for(20ms);
    }
}

namespace {

fs::path MakeTempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tarvane-e2e-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> result;
    for (auto& text : texts) result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

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

ProgramDir::ProgramDir(std::string programName)
    : root_(MakeTempDir()), programName_(std::move(programName)) {
    fs::permissions(root_, fs::perms::owner_all, fs::perm_options::replace);
    fs::create_directory(Dir());
    fs::copy_file(TARVANE_BINARY, Executable());
}

ProgramDir::~ProgramDir() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
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

Process::Process(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                 const fs::path& workingDir, const fs::path& outputFile) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addchdir_np(&actions, workingDir.c_str());
    auto args = argv;
    auto env = environment;
    const int rc = ::posix_spawn(&pid_, args[0].c_str(), &actions, nullptr, Pointers(args).data(),
                                 Pointers(env).data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
}

Process::~Process() { Kill(); }

bool Process::Running() { return !WaitForExit(0ms).has_value(); }

std::optional<int> Process::WaitForExit(Duration limit) {
    if (status_) return status_;
    WaitUntil(
        [&] {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) != pid_) return false;
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1 - WTERMSIG(status);
            return true;
        },
        limit);
    return status_;
}

void Process::Kill() {
    if (status_ || pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    WaitForExit(10s);
}

void Process::Terminate(Duration limit) {
    if (status_ || pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    if (!WaitForExit(limit)) Kill();
}

CommandResult RunCommand(const std::vector<std::string>& argv, Duration limit,
                         const std::vector<std::string>& extraEnvironment) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    // A variable given replaces the inherited one: the first of two would win.
    std::vector<std::string> env(extraEnvironment);
    for (char** e = environ; *e; ++e) {
        const std::string_view inherited(*e);
        const auto name = inherited.substr(0, inherited.find('=') + 1);
        if (std::none_of(extraEnvironment.begin(), extraEnvironment.end(),
                         [&](const std::string& given) { return given.starts_with(name); }))
            env.emplace_back(inherited);
    }
    auto args = argv;
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, args[0].c_str(), &actions, nullptr, Pointers(args).data(),
                                  Pointers(env).data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    CommandResult result;
    if (rc != 0) {
        ::close(pipeFds[0]);
        return result;
    }
    ::fcntl(pipeFds[0], F_SETFL, O_NONBLOCK);
    int status = 0;
    bool ended = false;
    char buffer[4096];
    const auto end = Clock::now() + limit;
    while (!ended) {
        ssize_t n;
        while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0)
            result.output.append(buffer, static_cast<size_t>(n));
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            ended = true;
        } else if (Clock::now() >= end) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            ::close(pipeFds[0]);
            return result;
        } else {
            std::this_thread::sleep_for(5ms);
        }
    }
    for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        result.output.append(buffer, static_cast<size_t>(n));
    ::close(pipeFds[0]);
    result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

bool HaveProgram(const std::string& name) {
    return RunCommand({"sh", "-c", "command -v " + name}).code == 0;
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

namespace {

// Calls take(local, rxQueue) for each socket of /proc/net/udp.
template <typename Take>
void ForEachUdpSocket(Take take) {
    std::ifstream table("/proc/net/udp");
    std::string line;
    std::getline(table, line);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues;
        fields >> slot >> local >> remote >> state >> queues;
        const size_t colon = queues.find(':');
        take(local,
             colon == std::string::npos ? 0 : std::stoul(queues.substr(colon + 1), nullptr, 16));
    }
}

std::string HexPort(int port) {
    char hexPort[8];
    std::snprintf(hexPort, sizeof hexPort, ":%04X", port);
    return hexPort;
}

}  // namespace

bool UdpPortBound(int port) {
    bool bound = false;
    ForEachUdpSocket(
        [&](const std::string& local, size_t) { bound = bound || local.ends_with(HexPort(port)); });
    return bound;
}

size_t UdpBytesQueued(int port) {
    size_t queued = 0;
    ForEachUdpSocket([&](const std::string& local, size_t rx) {
        if (local.ends_with(HexPort(port))) queued += rx;
    });
    return queued;
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

bool InPrivateNetwork() {
    std::ifstream table("/proc/net/dev");
    std::string line;
    int interfaces = 0;
    bool lo = false;
    for (int row = 0; std::getline(table, line); ++row) {
        if (row < 2) continue;
        std::istringstream fields(line);
        std::string name;
        fields >> name;
        ++interfaces;
        lo = lo || name == "lo:";
    }
    return interfaces == 1 && lo;
}

void AddLoopbackAddress(const std::string& address) {
    if (!InPrivateNetwork()) throw std::runtime_error("not in a private network namespace");
    RunCommand({"ip", "addr", "add", address + "/32", "dev", "lo"});
    const auto shown = RunCommand({"ip", "-4", "addr", "show", "dev", "lo"});
    if (shown.output.find("inet " + address + "/32") == std::string::npos)
        throw std::runtime_error("cannot add " + address + " to lo");
}

void SendDatagram(const std::string& source, const std::string& bytes, int port) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    sockaddr_in from{};
    from.sin_family = AF_INET;
    ::inet_pton(AF_INET, source.c_str(), &from.sin_addr);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool sent = ::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) == 0 &&
                      ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to),
                               sizeof to) == static_cast<ssize_t>(bytes.size());
    const int error = errno;
    ::close(fd);
    if (!sent) throw std::runtime_error("cannot send from " + source + ": " + std::strerror(error));
}

LoopbackCapture::LoopbackCapture(int port) : port_(port) {
    fd_ = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, htons(ETH_P_IP));
    if (fd_ < 0) throw std::runtime_error(std::string("packet socket: ") + std::strerror(errno));
    sockaddr_ll where{};
    where.sll_family = AF_PACKET;
    where.sll_protocol = htons(ETH_P_IP);
    where.sll_ifindex = static_cast<int>(::if_nametoindex("lo"));
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0)
        throw std::runtime_error(std::string("packet bind: ") + std::strerror(errno));
    int size = 8 << 20;
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
}

LoopbackCapture::~LoopbackCapture() { ::close(fd_); }

std::vector<LoopbackCapture::Datagram> LoopbackCapture::Take(size_t count, Duration limit) {
    static thread_local char packet[70000];
    WaitUntil(
        [&] {
            for (;;) {
                sockaddr_ll from{};
                socklen_t fromSize = sizeof from;
                const ssize_t n = ::recvfrom(fd_, packet, sizeof packet, 0,
                                             reinterpret_cast<sockaddr*>(&from), &fromSize);
                if (n < 0) break;
                // lo shows each packet twice: once going out, once coming in.
                if (from.sll_pkttype == PACKET_OUTGOING) continue;
                if (static_cast<size_t>(n) < sizeof(iphdr)) continue;
                iphdr ip;
                std::memcpy(&ip, packet, sizeof ip);
                const size_t ipLength = ip.ihl * 4u;
                if (ip.protocol != IPPROTO_UDP || static_cast<size_t>(n) < ipLength + 8) continue;
                udphdr udp;
                std::memcpy(&udp, packet + ipLength, sizeof udp);
                if (ntohs(udp.dest) != port_) continue;
                char source[INET_ADDRSTRLEN];
                ::inet_ntop(AF_INET, &ip.saddr, source, sizeof source);
                const size_t payload = std::min<size_t>(ntohs(udp.len) - 8u, n - ipLength - 8);
                pending_.push_back({source, std::string(packet + ipLength + 8, payload)});
            }
            return pending_.size() >= count;
        },
        limit);
    return std::exchange(pending_, {});
}

std::optional<std::string> AfterTimeStamp(const std::string& line) {
    static const std::regex stamp(R"(^([01]\d|2[0-3]):[0-5]\d:[0-5]\d\.\d{3}:)");
    std::smatch match;
    if (!std::regex_search(line, match, stamp)) return std::nullopt;
    return line.substr(static_cast<size_t>(match.length(0)));
}

VirtualDisplay::VirtualDisplay() : root_(MakeTempDir()) {
    if (!HaveProgram("Xvfb") || !HaveProgram("xdotool")) return;
    // Lock files and sockets live in the host's /tmp, shared with every other display: try
    // numbers well away from the usual ones until a server comes up on one.
    for (int attempt = 0; attempt < 20; ++attempt) {
        const int number = 100 + static_cast<int>((::getpid() * 7 + attempt * 13) % 800);
        const std::string suffix = std::to_string(number);
        if (fs::exists("/tmp/.X" + suffix + "-lock") || fs::exists("/tmp/.X11-unix/X" + suffix))
            continue;
        // -noreset: a server that resets when its last client leaves (the readiness probe)
        // refuses the program's connection while it does.
        server_.emplace(std::vector<std::string>{"/usr/bin/Xvfb", ":" + suffix, "-screen", "0",
                                                 "1280x1024x24", "-nolisten", "tcp", "-noreset"},
                        std::vector<std::string>{"PATH=/usr/bin:/bin"}, root_, root_ / "xvfb.txt");
        name_ = ":" + suffix;
        if (WaitUntil(
                [&] {
                    return !server_->Running() ||
                           XdoTool({"getdisplaygeometry"}, 2s).output.find("1280 1024") == 0;
                },
                10s) &&
            server_->Running())
            return;
        server_->Terminate();
        server_.reset();
        name_.clear();
    }
}

VirtualDisplay::~VirtualDisplay() {
    if (windowManager_) windowManager_->Terminate();
    // Terminated, not killed: the server removes its lock file and socket from /tmp.
    if (server_) server_->Terminate();
    server_.reset();
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

bool VirtualDisplay::StartWindowManager() {
    if (!Ok() || !HaveProgram("openbox") || !HaveProgram("xprop")) return false;
    windowManager_.emplace(
        std::vector<std::string>{"/usr/bin/openbox"},
        std::vector<std::string>{"PATH=/usr/bin:/bin", "DISPLAY=" + name_, "HOME=" + root_.string(),
                                 "XDG_CONFIG_HOME=" + root_.string(),
                                 "XDG_RUNTIME_DIR=" + root_.string()},
        root_, root_ / "openbox.txt");
    // A window manager announces itself on the root window as it starts, and lists the windows
    // it manages once it has taken over those already there, right before it handles requests.
    return WaitUntil(
               [&] {
                   if (!windowManager_->Running()) return true;
                   const std::string root =
                       RunCommand(
                           {"xprop", "-root", "_NET_SUPPORTING_WM_CHECK", "_NET_CLIENT_LIST"}, 2s,
                           {"DISPLAY=" + name_})
                           .output;
                   return root.find("_NET_SUPPORTING_WM_CHECK(WINDOW): window id") !=
                              std::string::npos &&
                          root.find("_NET_CLIENT_LIST(WINDOW)") != std::string::npos;
               },
               20s) &&
           windowManager_->Running();
}

CommandResult VirtualDisplay::XdoTool(const std::vector<std::string>& arguments, Duration limit) {
    std::vector<std::string> argv{"xdotool"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return RunCommand(argv, limit, {"DISPLAY=" + name_});
}

std::vector<std::string> VirtualDisplay::FindWindows(const std::string& nameRegex) {
    std::vector<std::string> ids;
    std::istringstream lines(XdoTool({"search", "--onlyvisible", "--name", nameRegex}).output);
    for (std::string id; std::getline(lines, id);)
        if (!id.empty()) ids.push_back(id);
    return ids;
}

std::optional<std::string> VirtualDisplay::WaitForWindow(const std::string& nameRegex,
                                                         Duration limit) {
    std::vector<std::string> ids;
    if (!WaitUntil(
            [&] {
                ids = FindWindows(nameRegex);
                return !ids.empty();
            },
            limit))
        return std::nullopt;
    return ids.front();
}

bool VirtualDisplay::WaitForNoWindow(const std::string& nameRegex, Duration limit) {
    return WaitUntil([&] { return FindWindows(nameRegex).empty(); }, limit);
}

namespace {
std::string GeometryField(const std::string& output, const std::string& field) {
    const auto at = output.find(field + ": ");
    if (at == std::string::npos) return {};
    const auto start = at + field.size() + 2;
    return output.substr(start, output.find_first_of(" \n", start) - start);
}
}  // namespace

std::string VirtualDisplay::Geometry(const std::string& window) {
    return GeometryField(XdoTool({"getwindowgeometry", window}).output, "Geometry");
}

std::string VirtualDisplay::Position(const std::string& window) {
    return GeometryField(XdoTool({"getwindowgeometry", window}).output, "Position");
}

std::optional<VirtualDisplay::Frame> VirtualDisplay::FrameExtents(const std::string& window) {
    const auto extents =
        RunCommand({"xprop", "-id", window, "_NET_FRAME_EXTENTS"}, 5s, {"DISPLAY=" + name_}).output;
    Frame f;
    const auto at = extents.find(" = ");
    if (at == std::string::npos || std::sscanf(extents.c_str() + at + 3, "%d, %d, %d, %d", &f.left,
                                               &f.right, &f.top, &f.bottom) != 4)
        return std::nullopt;
    return f;
}

std::string VirtualDisplay::OuterGeometry(const std::string& window) {
    const auto info = RunCommand({"xwininfo", "-id", window}, 5s, {"DISPLAY=" + name_}).output;
    auto field = [&](const std::string& name) {
        const auto at = info.find(name + ":");
        return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + name.size() + 1);
    };
    const Frame frame = FrameExtents(window).value_or(Frame{});
    const int left = frame.left, right = frame.right, top = frame.top, bottom = frame.bottom;
    const int width = field("Width"), height = field("Height");
    const int x = field("Absolute upper-left X"), y = field("Absolute upper-left Y");
    if (width < 0 || height < 0) return {};
    return std::to_string(width + left + right) + "x" + std::to_string(height + top + bottom) +
           "+" + std::to_string(x - left) + "+" + std::to_string(y - top);
}

bool VirtualDisplay::PressKeys(pid_t program, const std::string& window,
                               const std::vector<std::string>& keys) {
    const auto shown = [&] {
        return XdoTool({"search", "--onlyvisible", "--pid", std::to_string(program)}).output;
    };
    XdoTool({"windowfocus", "--sync", window});
    for (size_t i = 0; i < keys.size(); ++i) {
        const std::string before = shown();
        XdoTool({"key", "--clearmodifiers", keys[i]});
        if (i + 1 < keys.size() && !WaitUntil([&] { return shown() != before; }, 5s)) return false;
    }
    return true;
}

void VirtualDisplay::TypeText(const std::string& window, const std::string& text) {
    XdoTool({"windowfocus", "--sync", window});
    // "--" ends the options: text may begin with "-".
    XdoTool({"type", "--delay", "50", "--", text});
}

bool VirtualDisplay::Screenshot(const fs::path& file) {
    std::error_code ignored;
    fs::create_directories(file.parent_path(), ignored);
    if (!HaveProgram("import")) return false;
    return RunCommand({"import", "-display", name_, "-window", "root", file.string()}, 20s).code ==
           0;
}

AccessibilityBus::AccessibilityBus(const std::string& display)
    : root_(MakeTempDir()), display_(display) {
    if (!fs::exists("/usr/bin/dbus-daemon") || !fs::exists("/usr/libexec/at-spi-bus-launcher") ||
        RunCommand({"/usr/bin/python3", "-c", "import pyatspi"}).code != 0)
        return;
    const fs::path addressFile = root_ / "bus.txt";
    daemon_.emplace(
        std::vector<std::string>{"/usr/bin/dbus-daemon", "--session", "--nofork",
                                 "--print-address=1"},
        std::vector<std::string>{"PATH=/usr/bin:/bin", "HOME=" + root_.string(),
                                 "XDG_RUNTIME_DIR=" + root_.string(), "DISPLAY=" + display},
        root_, addressFile);
    if (!WaitUntil(
            [&] {
                const std::string text = ReadFile(addressFile);
                address_ = text.substr(0, text.find('\n'));
                return text.find('\n') != std::string::npos || !daemon_->Running();
            },
            10s) ||
        !address_.starts_with("unix:"))
        return;
    // Asking the launcher (started by the bus on demand) to switch accessibility on, before the
    // program looks whether it is on.
    ok_ = RunCommand({"dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus",
                      "/org/a11y/bus", "org.freedesktop.DBus.Properties.Set",
                      "string:org.a11y.Status", "string:IsEnabled", "variant:boolean:true"},
                     20s, Environment())
              .code == 0;
}

AccessibilityBus::~AccessibilityBus() {
    // The launcher and its own bus end with the session bus they serve.
    if (daemon_) daemon_->Terminate();
    daemon_.reset();
    std::error_code ignored;
    fs::remove_all(root_, ignored);
}

std::vector<std::string> AccessibilityBus::Environment() const {
    return {"DBUS_SESSION_BUS_ADDRESS=" + address_};
}

std::string AccessibilityBus::Tree(const std::string& application) {
    auto env = Environment();
    env.push_back("DISPLAY=" + display_);
    return RunCommand({"/usr/bin/python3", TARVANE_ATSPI_TREE, application}, 20s, env).output;
}

}  // namespace tarvane::e2e
