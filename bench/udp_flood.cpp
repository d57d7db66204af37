// udp_flood PORT COUNT RATE: sends COUNT syslog datagrams of about 100 bytes to 127.0.0.1:PORT,
// paced at RATE per second in 1 ms batches. Loopback only; bounded by COUNT.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: udp_flood PORT COUNT RATE\n");
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const long count = std::atol(argv[2]);
    const double rate = std::atof(argv[3]);
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    char text[160];
    for (long i = 0; i < count; ++i) {
        // Keep to the schedule: datagram i is due at start + i / rate.
        const double due = static_cast<double>(i) / rate;
        for (;;) {
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            const double elapsed =
                static_cast<double>(now.tv_sec - start.tv_sec) + (now.tv_nsec - start.tv_nsec) / 1e9;
            if (elapsed >= due) break;
            const double wait = due - elapsed;
            if (wait > 0.0005) {
                timespec pause{0, static_cast<long>(wait * 1e9)};
                nanosleep(&pause, nullptr);
            }
        }
        const int n = std::snprintf(text, sizeof text,
                                    "<134>Dec  9 12:00:00 bench app[42]: message %08ld of the "
                                    "flood, padded to about one hundred bytes",
                                    i);
        ::sendto(fd, text, static_cast<size_t>(n), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    ::close(fd);
    return 0;
}
