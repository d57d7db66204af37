// The README's recipe for a site whose messages must also reach a central system: rsyslog's
// imfile follows the daily files and forwards every line over TCP to a central rsyslog. Real
// rsyslogd processes, the program's own daily writer and retention pass, and a change of day.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "logfiles/logfiles.h"
#include "testsupport/fixed_clock.h"
#include "testsupport/network.h"
#include "testsupport/program.h"

namespace tarvane::e2e {
namespace {

namespace fs = std::filesystem;

bool Accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
    if (fd >= 0) ::close(fd);
    return ok;
}

std::vector<std::string> LinesOf(const fs::path& file) {
    std::vector<std::string> lines;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The recipe's two halves as the README gives them, with the test's folder and port.
std::string SiteConfig(const fs::path& work, const fs::path& folder) {
    return "global(workDirectory=\"" + work.string() + "\")\n" +
           "module(load=\"imfile\")\n"
           "template(name=\"tarvane-line\" type=\"string\"\n"
           "         string=\"<%PRI%>1 %TIMESTAMP:::date-rfc3339% %HOSTNAME% tarvane - - - "
           "%msg:R,ERE,1,DFLT:^(.*[^[:cntrl:]])--end%\\n\")\n"
           "input(type=\"imfile\" file=\"" +
           (folder / "Tarvane-*.TXT").string() +
           "\" tag=\"tarvane\" facility=\"local0\"\n"
           "      severity=\"info\" ruleset=\"tarvane-central\")\n"
           "ruleset(name=\"tarvane-central\") {\n"
           "    action(type=\"omfwd\" target=\"127.0.0.1\" port=\"10514\" protocol=\"tcp\"\n"
           "           template=\"tarvane-line\"\n"
           "           queue.type=\"LinkedList\" queue.filename=\"tarvane-central\"\n"
           "           queue.saveOnShutdown=\"on\" action.resumeRetryCount=\"-1\")\n"
           "}\n";
}

std::string CentralConfig(const fs::path& work, const fs::path& out) {
    return "global(workDirectory=\"" + work.string() + "\")\n" +
           "module(load=\"imtcp\")\n"
           "input(type=\"imtcp\" port=\"10514\" ruleset=\"site\")\n"
           "template(name=\"text\" type=\"string\" string=\"%msg%\\n\")\n"
           "ruleset(name=\"site\") {\n"
           "    if $programname == \"tarvane\" then action(type=\"omfile\" file=\"" +
           out.string() + "\" template=\"text\")\n" + "}\n";
}

TEST(CentralRelay, EveryLineOnceInOrderAcrossADayAndARetentionPass) {
    if (!InPrivateNetwork()) GTEST_SKIP() << "run through tests/netns-run.sh";
    if (!HaveProgram("rsyslogd")) GTEST_SKIP() << "rsyslogd not installed";
    ProgramDir dir;
    const fs::path folder = dir.Dir(), site = dir.Root() / "site", central = dir.Root() / "central";
    fs::create_directories(site);
    fs::create_directories(central);
    const fs::path received = central / "received.txt";
    WriteFile(site / "rsyslog.conf", SiteConfig(site, folder));
    WriteFile(central / "rsyslog.conf", CentralConfig(central, received));
    const std::vector<std::string> env{"PATH=/usr/bin:/bin"};
    Process centralRsyslogd({"/usr/sbin/rsyslogd", "-n", "-f", (central / "rsyslog.conf").string(),
                             "-i", (central / "pid").string()},
                            env, central, central / "output.txt");
    // The site's first connection must find the central system listening, or the lines wait out
    // rsyslog's retry interval (30 s).
    ASSERT_TRUE(WaitUntil([] { return Accepts(10514); }, 20s)) << ReadFile(central / "output.txt");
    Process siteRsyslogd({"/usr/sbin/rsyslogd", "-n", "-f", (site / "rsyslog.conf").string(), "-i",
                          (site / "pid").string()},
                         env, site, site / "output.txt");

    testing::FixedClock clock(testing::At(2026, 2, 28, 23, 59, 58));
    std::vector<std::string> written;
    // Written as the program writes a line: the day's file, the line and CR LF.
    auto write = [&](int n) {
        char stamp[16];
        std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03d", clock.t.hour, clock.t.minute,
                      clock.t.second, clock.t.millisecond);
        const std::string line = std::string(stamp) + ":[5] 10.1.1.1 <13>line " +
                                 std::to_string(n) + " of " + DateStamp(clock.t);
        ASSERT_TRUE(
            AppendTextToFile(line + "\r\n", (folder / DailyLogFileName(clock.t)).string(), true));
        written.push_back(line);
    };
    auto allReceived = [&] {
        return WaitUntil([&] { return LinesOf(received).size() >= written.size(); }, 20s);
    };

    for (int n = 1; n <= 20; ++n) write(n);
    ASSERT_TRUE(allReceived()) << ReadFile(site / "output.txt") << ReadFile(central / "output.txt");

    // Midnight: the first line of the new day runs the retention pass, which deletes the old
    // file, then goes to a new file that imfile must find by itself.
    clock.t = testing::At(2026, 3, 1, 0, 0, 1);
    EXPECT_EQ(DeleteExpiredFiles((folder / "Tarvane-").string(), ".TXT", 1, clock), 1);
    EXPECT_FALSE(fs::exists(folder / "Tarvane-20260228.TXT"));
    for (int n = 21; n <= 40; ++n) write(n);
    ASSERT_TRUE(allReceived()) << ReadFile(site / "output.txt");

    EXPECT_EQ(LinesOf(received), written);
}

}  // namespace
}  // namespace tarvane::e2e
