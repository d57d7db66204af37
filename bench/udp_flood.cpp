// udp_flood PORT COUNT RATE: sends COUNT syslog datagrams of about 100 bytes to 127.0.0.1:PORT
// at RATE per second, in batches due every millisecond (clock_nanosleep to each batch's due
// time, so the pace does not drift). Loopback only; bounded by COUNT and by twice the planned
// time plus five seconds. Prints the datagrams sent, the seconds taken, the sends that failed and
// how late the latest batch went out, in milliseconds (a late batch reaches the receiver as a
// burst).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {
double Seconds(const timespec& t) { return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9; }
timespec At(double seconds) {
    timespec t{};
    t.tv_sec = static_cast<time_t>(seconds);
    t.tv_nsec = static_cast<long>((seconds - static_cast<double>(t.tv_sec)) * 1e9);
    return t;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: udp_flood PORT COUNT RATE\n");
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const long count = std::atol(argv[2]);
    const double rate = std::atof(argv[3]);
    if (port <= 0 || port > 65535 || count <= 0 || rate <= 0) return 2;
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const double start = Seconds(now);
    const double deadline = start + 2.0 * static_cast<double>(count) / rate + 5.0;
    const long batch = std::max(1L, static_cast<long>(rate / 1000.0));
    char text[160];
    long sent = 0, failed = 0;
    double latest = 0;
    for (long i = 0; i < count; i += batch) {
        const timespec due = At(start + static_cast<double>(i) / rate);
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr);
        clock_gettime(CLOCK_MONOTONIC, &now);
        latest = std::max(latest, Seconds(now) - Seconds(due));
        for (long j = i; j < std::min(count, i + batch); ++j) {
            const int n = std::snprintf(text, sizeof text,
                                        "<134>Dec  9 12:00:00 benchhost app[42]: message %08ld "
                                        "of the flood, padded to about one hundred bytes",
                                        j);
            if (::sendto(fd, text, static_cast<size_t>(n), 0, reinterpret_cast<sockaddr*>(&to),
                         sizeof to) == n)
                ++sent;
            else
                ++failed;
        }
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (Seconds(now) > deadline) break;
    }
    clock_gettime(CLOCK_MONOTONIC, &now);
    std::printf("%ld %.3f %ld %.1f\n", sent, Seconds(now) - start, failed, latest * 1e3);
    ::close(fd);
    return 0;
}
