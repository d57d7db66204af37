// The road of a datagram through the real program: real syslog clients (logger, rsyslogd
// forwarding) and hand-made datagrams from several addresses, read back from the daily file.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "testsupport/network.h"
#include "testsupport/program.h"

namespace tarvane::e2e {
namespace {

namespace fs = std::filesystem;

// The daily line after its time stamp for a datagram as it crossed the wire: severity prefix,
// sender, text, trimmed. The clients here send no control bytes that the line would escape.
std::string ExpectedLine(const LoopbackCapture::Datagram& datagram, std::optional<int> severity) {
    std::string line = (severity ? "[" + std::to_string(*severity) + "] " : std::string()) +
                       datagram.source + " " + datagram.bytes;
    while (!line.empty() && static_cast<unsigned char>(line.back()) <= 32) line.pop_back();
    return line;
}

// Takes every free block, so that a line cannot fit in what is left of a file's last one.
void FillDisk(const fs::path& filler) {
    std::ofstream out(filler, std::ios::binary);
    const std::string block(4096, 'f');
    while (out.write(block.data(), block.size())) out.flush();
}

class DatagramRoad : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!InPrivateNetwork()) GTEST_SKIP() << "run through tests/netns-run.sh";
        for (const char* address : {"10.1.1.1", "10.1.1.2", "10.1.1.3", "10.1.1.4"})
            AddLoopbackAddress(address);
        program.emplace(dir, OffscreenEnvironment(dir));
        ASSERT_TRUE(program->WaitUntilReady(dir)) << ReadFile(dir.OutputFile());
        capture.Take(0, 0ms);
    }

    // Runs one client that sends exactly one datagram to port 514 and records the line the
    // program must write for it.
    void Expect(const std::vector<std::string>& client, std::optional<int> severity,
                const std::string& textEnd) {
        const auto result = RunCommand(client);
        ASSERT_EQ(result.code, 0) << client[0];
        const auto seen = capture.Take(1);
        ASSERT_EQ(seen.size(), 1u) << client[0];
        EXPECT_TRUE(seen[0].bytes.ends_with(textEnd)) << seen[0].bytes;
        expected.push_back(ExpectedLine(seen[0], severity));
    }

    // Checks the whole daily file: the expected lines, each once, in order, time stamped.
    void CheckDailyFile() {
        dir.WaitForDailyLines(expected.size());
        EXPECT_EQ(dir.Messages(), expected);
    }

    // Sends a datagram while place() has spoilt the daily file and, once the program has taken
    // it, mends the file with undo() and sends one more. The first must be lost, the second
    // written whole after the earlier lines. When the program took the first only after the
    // mend (it was then written), the round proves nothing and is tried again.
    void LoseWhile(const std::string& what, const std::function<void()>& place,
                   const std::function<void()>& undo, const std::string& lostText) {
        bool proven = false;
        for (int round = 0; round < 10 && !proven; ++round) {
            const std::string n = " " + what + " " + std::to_string(round);
            place();
            SendDatagram("10.1.1.1", "<13>" + lostText + n);
            const bool quiet = program->WaitUntilQuiet();
            undo();
            ASSERT_TRUE(quiet) << what << ": the program stopped handling datagrams";
            SendDatagram("10.1.1.2", "<13>after" + n);
            const std::string after = "[5] 10.1.1.2 <13>after" + n;
            ASSERT_TRUE(dir.WaitForLastMessage(after))
                << what << ": nothing written after the file was mended";
            const std::string lost = "[5] 10.1.1.1 <13>" + lostText + n;
            for (const auto& message : dir.Messages()) {
                if (message == lost) expected.push_back(lost);
            }
            proven = expected.empty() || expected.back() != lost;
            expected.push_back(after);
        }
        EXPECT_TRUE(proven) << what << ": every round was taken after the mend";
    }

    // The program again, on a tmpfs over its directory a little larger than itself, mounted in a
    // mount namespace of this process's own; false where none can be made.
    bool RestartOnSmallFileSystem() {
        program.reset();
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            return false;
        }
        const fs::path copy = dir.Root() / "Tarvane.copy";
        fs::rename(dir.Executable(), copy);
        const std::string size = std::to_string(fs::file_size(copy) / 1024 + 256) + "k";
        EXPECT_EQ(::mount("tarvane-e2e", dir.Dir().c_str(), "tmpfs", 0, ("size=" + size).c_str()),
                  0);
        mounted = true;
        fs::copy_file(copy, dir.Executable());
        program.emplace(dir, OffscreenEnvironment(dir));
        EXPECT_TRUE(program->WaitUntilReady(dir)) << ReadFile(dir.OutputFile());
        return true;
    }
    void TearDown() override {
        program.reset();
        if (mounted) ::umount2(dir.Dir().c_str(), MNT_DETACH);
    }

    fs::path DailyFile() { return dir.FilesMatching(R"(Tarvane-\d{8}\.TXT)").at(0); }

    ProgramDir dir;
    LoopbackCapture capture;
    std::optional<Tarvane> program;
    std::vector<std::string> expected;
    bool mounted = false;
};

TEST_F(DatagramRoad, LoggerOverUdpInBothFormats) {
    Expect({"logger", "-n", "10.1.1.1", "-P", "514", "-d", "--rfc3164", "-p", "local0.info", "-t",
            "e2e", "rfc3164 from logger"},
           6, "e2e: rfc3164 from logger");
    Expect({"logger", "-n", "10.1.1.2", "-P", "514", "-d", "--rfc5424", "-p", "user.err", "-t",
            "e2e", "rfc5424 from logger"},
           3, "rfc5424 from logger");
    Expect({"logger", "-n", "10.1.1.1", "-P", "514", "-d", "--rfc3164", "-p", "kern.emerg", "-t",
            "e2e", "emergency"},
           0, "emergency");
    CheckDailyFile();
}

TEST_F(DatagramRoad, RsyslogdForwardingOverUdp) {
    if (!HaveProgram("rsyslogd")) GTEST_SKIP() << "rsyslogd not installed";
    const auto root = dir.Root();
    const auto socketPath = root / "log.sock";
    WriteFile(root / "rsyslog.conf",
              "global(workDirectory=\"" + root.string() +
                  "\")\n"
                  "module(load=\"imuxsock\" SysSock.Use=\"off\")\n"
                  "input(type=\"imuxsock\" Socket=\"" +
                  socketPath.string() +
                  "\")\n"
                  "local3.* action(type=\"omfwd\" target=\"127.0.0.1\" port=\"514\" "
                  "protocol=\"udp\" address=\"10.1.1.3\")\n");
    Process rsyslogd({"/usr/sbin/rsyslogd", "-n", "-f", (root / "rsyslog.conf").string(), "-i",
                      (root / "rsyslog.pid").string()},
                     {"PATH=/usr/bin:/bin"}, root, root / "rsyslog.txt");
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(socketPath); }, 10s))
        << ReadFile(root / "rsyslog.txt");

    Expect({"logger", "-u", socketPath.string(), "-p", "local3.warning", "-t", "fwd", "one"}, 4,
           "fwd: one");
    Expect({"logger", "-n", "10.1.1.4", "-P", "514", "-d", "-p", "local3.debug", "-t", "direct",
            "between"},
           7, "between");
    Expect({"logger", "-u", socketPath.string(), "-p", "local3.info", "-t", "fwd", "two"}, 6,
           "fwd: two");
    CheckDailyFile();
}

// Datagrams the program must write, mend or drop; a dropped one costs only itself, so the
// one after it is always written.
struct Case {
    const char* what;
    const char* source;
    std::string bytes;
    std::optional<std::string> line;  // after the time stamp; nothing when not written
};

TEST_F(DatagramRoad, OneDatagramOneLineOrNone) {
    const std::string big8192 = "<13>" + std::string(8188, 'a');
    const std::string big8193 = "<13>" + std::string(8189, 'b');
    const std::vector<Case> cases{
        {"bad priority", "10.1.1.1", "<1x>bad", std::nullopt},
        {"after bad priority", "10.1.1.2", "<13>next", "[5] 10.1.1.2 <13>next"},
        {"empty priority", "10.1.1.1", "<>x", std::nullopt},
        {"priority beyond 32 bits", "10.1.1.1", "<2147483648>x", std::nullopt},
        {"no priority", "10.1.1.3", "plain text\r\n", "10.1.1.3 plain text"},
        {"forged line", "10.1.1.1", "<13>real\r\n09:00:00.000:[0] 10.9.9.9 forged",
         "[5] 10.1.1.1 <13>real#015#01209:00:00.000:[0] 10.9.9.9 forged"},
        {"NUL inside", "10.1.1.4", std::string("<14>a\0b\tc", 9), "[6] 10.1.1.4 <14>a#000b\tc"},
        {"high bytes unchanged", "10.1.1.2", "<14>caf\xc3\xa9 \xff",
         "[6] 10.1.1.2 <14>caf\xc3\xa9 \xff"},
        {"8192 bytes whole", "10.1.1.1", big8192, "[5] 10.1.1.1 " + big8192},
        {"8193 bytes", "10.1.1.1", big8193, std::nullopt},
        {"after 8193 bytes", "10.1.1.3", "<11>after big", "[3] 10.1.1.3 <11>after big"},
        {"empty", "10.1.1.4", "", "10.1.1.4"},
    };
    for (const auto& c : cases) {
        SendDatagram(c.source, c.bytes);
        ASSERT_EQ(capture.Take(1).size(), 1u) << c.what;
        if (c.line) expected.push_back(*c.line);
    }
    CheckDailyFile();
}

// Something other than a file in the daily file's place costs the line written meanwhile and
// nothing else: the program never blocks on it and never writes through a link, symbolic or hard.
TEST_F(DatagramRoad, FifoOrLinkInTheDailyFilesPlace) {
    const fs::path daily = DailyFile(), saved = dir.Root() / "saved.txt";
    const fs::path target = dir.Root() / "target.txt", nowhere = dir.Root() / "nowhere.txt";
    WriteFile(target, "keep");
    const auto mend = [&] {
        fs::remove(daily);
        fs::rename(saved, daily);
    };
    const std::pair<const char*, std::function<void()>> places[] = {
        {"fifo", [&] { ASSERT_EQ(::mkfifo(daily.c_str(), 0644), 0); }},
        {"link", [&] { fs::create_symlink(target, daily); }},
        {"hard link", [&] { fs::create_hard_link(target, daily); }},
        {"dangling link", [&] { fs::create_symlink(nowhere, daily); }},
    };
    for (const auto& [what, place] : places) {
        const auto spoil = [&, &place = place] {
            fs::rename(daily, saved);
            place();
        };
        LoseWhile(what, spoil, mend, std::string("into a ") + what);
    }
    CheckDailyFile();
    EXPECT_EQ(ReadFile(target), "keep");
    EXPECT_FALSE(fs::exists(nowhere));
}

// The program on a small file system of its own: a line that does not fit leaves no part of it
// behind, and the next one after space is freed starts on a line of its own.
TEST_F(DatagramRoad, FullDiskCostsOnlyTheLineThatDidNotFit) {
    if (!RestartOnSmallFileSystem())
        GTEST_SKIP() << "neither root nor in a user namespace: no private mount namespace";
    const fs::path daily = DailyFile(), filler = dir.Dir() / "filler";
    const std::string earlier = ReadFile(daily);
    LoseWhile(
        "full disk", [&] { FillDisk(filler); }, [&] { fs::remove(filler); },
        std::string(6000, 'x'));
    CheckDailyFile();
    EXPECT_TRUE(ReadFile(daily).starts_with(earlier)) << "the earlier bytes are untouched";

    // Another writer appends between the program's open of the daily file and its failed write
    // (strace holds each write to that file back): the program takes back its own part only.
    if (!HaveProgram("strace")) return;
    const pid_t pid = program->Proc().Pid();
    const auto dailyOpen = [&] {
        std::error_code ec;
        for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
            if (fs::read_symlink(fd.path(), ec) == daily) return true;
        }
        return false;
    };
    const auto appendOther = [&](const std::string& text) {
        std::ofstream(daily, std::ios::binary | std::ios::app) << text;
    };
    // The other writer's line must fit in the file's last block once the disk is full.
    if ((4096 - fs::file_size(daily) % 4096) % 4096 < 64)
        appendOther(std::string(126, 'p') + "\r\n");
    FillDisk(filler);
    const std::string before = ReadFile(daily), other = "another writer\r\n";
    Process tracer(
        {"/usr/bin/strace", "-f", "-qq", "-o", "/dev/null", "-p", std::to_string(pid), "-P",
         daily.string(), "-e", "trace=write", "-e", "inject=write:delay_enter=1000000"},
        {}, dir.Root(), dir.Root() / "strace.txt");
    ASSERT_TRUE(WaitUntil(
        [&] {
            const std::string status = ReadFile("/proc/" + std::to_string(pid) + "/status");
            return status.find("TracerPid:\t0\n") == std::string::npos;
        },
        10s));
    SendDatagram("10.1.1.1", "<13>" + std::string(6000, 'y'));
    ASSERT_TRUE(WaitUntil(dailyOpen, 10s));
    appendOther(other);
    ASSERT_TRUE(WaitUntil([&] { return !dailyOpen(); }, 10s));
    tracer.Terminate();
    fs::remove(filler);
    EXPECT_EQ(ReadFile(daily), before + other);
}

}  // namespace
}  // namespace tarvane::e2e
