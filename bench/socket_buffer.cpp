// socket_buffer PID PORT BYTES: gives the UDP socket that process PID has bound to PORT a
// receive buffer of BYTES, the size a system default of BYTES (net.core.rmem_default) gives a
// new socket; prints the size the socket then has. For kernels that keep that default out of
// reach of a network namespace of our own, so the benchmark never changes the host's.
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

// The inode of the socket bound to the port, from the namespace's UDP table.
unsigned long SocketInode(int port) {
    std::ifstream table("/proc/net/udp");
    std::string line;
    std::getline(table, line);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout;
        unsigned long inode = 0;
        fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
            timeout >> inode;
        const auto colon = local.rfind(':');
        if (colon != std::string::npos && std::stoi(local.substr(colon + 1), nullptr, 16) == port)
            return inode;
    }
    return 0;
}

// The process's descriptor number for that socket, or -1.
int DescriptorOf(pid_t pid, unsigned long inode) {
    const std::string wanted = "socket:[" + std::to_string(inode) + "]";
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        if (std::filesystem::read_symlink(entry.path(), error).string() == wanted)
            return std::atoi(entry.path().filename().c_str());
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: socket_buffer PID PORT BYTES\n");
        return 2;
    }
    const pid_t pid = std::atoi(argv[1]);
    const int port = std::atoi(argv[2]);
    const long bytes = std::atol(argv[3]);
    if (pid <= 0 || port <= 0 || port > 65535 || bytes <= 0 || bytes > INT_MAX) return 2;
    const unsigned long inode = SocketInode(port);
    const int theirs = inode ? DescriptorOf(pid, inode) : -1;
    if (theirs < 0) {
        std::fprintf(stderr, "socket_buffer: process %d has no socket on port %d\n", pid, port);
        return 1;
    }
    // Called directly: this C library's <sys/pidfd.h> does not declare them for C++.
    const long pidfd = syscall(SYS_pidfd_open, pid, 0);
    const int fd = pidfd < 0 ? -1 : static_cast<int>(syscall(SYS_pidfd_getfd, pidfd, theirs, 0));
    // The kernel doubles what it is asked for; the system default is taken as it is.
    const int half = static_cast<int>(bytes / 2);
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &half, sizeof half) != 0) {
        std::perror("socket_buffer");
        return 1;
    }
    int size = 0;
    socklen_t length = sizeof size;
    getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, &length);
    std::printf("%d\n", size);
    return 0;
}
