// udp_flood PORT COUNT RATE [KIND]: sends COUNT syslog datagrams to 127.0.0.1:PORT at RATE per
// second, in batches due every millisecond (clock_nanosleep to each batch's due time, so the pace
// does not drift). Loopback only; bounded by COUNT and by twice the planned time plus five
// seconds. Prints the datagrams sent, the seconds taken, the sends that failed and how late the
// latest batch went out, in milliseconds (a late batch reaches the receiver as a burst).
//
// KIND: "short" (about 100 bytes, the default), "1k" and "8k" (printable words), "8k-random"
// (8,000 random bytes after the header), "mixed" (sizes 0-8,192 at random, a third of them
// random bytes, the rest syslog-like words). Every datagram carries "TVB" and its number in
// eight digits right after the priority, so receivers' files are counted by that mark; the
// shortest datagrams are as long as the mark.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

namespace {
double Seconds(const timespec& t) { return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9; }
timespec At(double seconds) {
    timespec t{};
    t.tv_sec = static_cast<time_t>(seconds);
    t.tv_nsec = static_cast<long>((seconds - static_cast<double>(t.tv_sec)) * 1e9);
    return t;
}
// Fills `out` with datagram number `i` of the kind.
void Datagram(const char* kind, long i, std::mt19937& random, std::string& out) {
    char head[64];
    std::snprintf(head, sizeof head, "<134>TVB%08ld ", i);
    out = head;
    size_t size = 0;
    bool randomBytes = false;
    if (std::strcmp(kind, "short") == 0) {
        out += "Dec  9 12:00:00 benchhost app[42]: a message of the flood, padded to about 100";
        return;
    } else if (std::strcmp(kind, "1k") == 0) {
        size = 1024;
    } else if (std::strcmp(kind, "8k") == 0) {
        size = 8000;
    } else if (std::strcmp(kind, "8k-random") == 0) {
        size = 8000;
        randomBytes = true;
    } else {  // mixed
        size = random() % 8193;
        randomBytes = random() % 3 == 0;
    }
    if (!randomBytes) out += "Dec  9 12:00:00 benchhost app[42]:";
    static const char* const kWords[] = {" link",    " up",    " interface", " GigabitEthernet0/1",
                                         " changed", " state", " to",        " down",
                                         " 802.1X"};
    while (out.size() < size) {
        if (randomBytes)
            out += static_cast<char>(random());
        else
            out += kWords[random() % 9];
    }
    if (out.size() > size && size >= std::strlen(head)) out.resize(size);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: udp_flood PORT COUNT RATE [short|1k|8k|8k-random|mixed]\n");
        return 2;
    }
    const char* kind = argc == 5 ? argv[4] : "short";
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
    std::mt19937 random(42);
    std::string text;
    long sent = 0, failed = 0;
    double latest = 0;
    for (long i = 0; i < count; i += batch) {
        const timespec due = At(start + static_cast<double>(i) / rate);
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr);
        clock_gettime(CLOCK_MONOTONIC, &now);
        latest = std::max(latest, Seconds(now) - Seconds(due));
        for (long j = i; j < std::min(count, i + batch); ++j) {
            Datagram(kind, j, random, text);
            if (::sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&to),
                         sizeof to) == static_cast<ssize_t>(text.size()))
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
