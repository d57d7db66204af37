// Datagrams per second through the hand-off alone, and through a loopback socket, the listener
// and the hand-off, with an event that only counts; with the worker and the window thread on
// one core, as the program keeps them, and free to run on any.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>

#include "reception/hand_off.h"
#include "reception/udp_listener.h"

namespace {

using tarvane::HandOff;
using tarvane::SocketBinding;
using tarvane::UdpListener;
using Clock = std::chrono::steady_clock;

// The window thread: sleeps until woken, then takes what is pending, as a posted event would.
class Loop {
  public:
    Loop() : handOff([this] { Wake(); }), thread_([this] { Run(); }) {}
    ~Loop() {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        cv_.notify_one();
        thread_.join();
    }
    HandOff handOff;

  private:
    void Wake() {
        {
            std::lock_guard lock(mutex_);
            ++posted_;
        }
        cv_.notify_one();
    }
    void Run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            cv_.wait(lock, [&] { return posted_ > 0 || quit_; });
            if (quit_) return;
            --posted_;
            lock.unlock();
            handOff.ProcessPending();
            lock.lock();
        }
    }
    std::mutex mutex_;
    std::condition_variable cv_;
    int posted_ = 0;
    bool quit_ = false;
    std::thread thread_;
};

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Runs `setUp` on a thread kept to one core when `oneCore`, so that the threads it starts share
// that core, and on a free thread otherwise.
template <typename F>
void StartThreads(bool oneCore, F setUp) {
    std::thread([&] {
        if (oneCore && !tarvane::KeepToCurrentCore()) std::fprintf(stderr, "core not kept\n");
        setUp();
    }).join();
}

const char* Placement(bool oneCore) { return oneCore ? "one core:  " : "any core:  "; }

void BenchHandOff(int count, bool oneCore) {
    std::optional<Loop> loop;
    long sum = 0;
    double s = 0;
    StartThreads(oneCore, [&] {
        loop.emplace();
        const auto start = Clock::now();
        for (int i = 0; i < count; ++i) loop->handOff.Deliver([&] { sum += i; });
        s = Seconds(Clock::now() - start);
    });
    std::printf("%shand-off alone:            %9.0f calls/s (%d calls, %.3f s)\n",
                Placement(oneCore), count / s, count, s);
    if (sum < 0) std::abort();
}

void BenchListener(int count, bool threaded, bool oneCore) {
    std::optional<Loop> loop;
    std::optional<UdpListener> listener;
    std::atomic<int> delivered{0};
    // The sender stays free, as a peer on the network would be.
    StartThreads(oneCore, [&] {
        loop.emplace();
        listener.emplace(loop->handOff,
                         [&](UdpListener&, std::string_view, SocketBinding&) { ++delivered; });
        SocketBinding binding;
        binding.IP = "127.0.0.1";
        listener->Bindings.push_back(std::move(binding));
        listener->ThreadedEvent = threaded;
        listener->Open();
    });

    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(listener->Bindings[0].Port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const char message[] = "<13>Jan  1 00:00:00 host tag: benchmark datagram of a usual size";
    // A bounded number in flight, so the socket's receive buffer never overflows and drops.
    constexpr int kInFlight = 64;
    const auto start = Clock::now();
    for (int sent = 0; sent < count; ++sent) {
        while (sent - delivered.load() >= kInFlight) std::this_thread::yield();
        if (::sendto(fd, message, sizeof message - 1, 0, reinterpret_cast<sockaddr*>(&to),
                     sizeof to) < 0) {
            std::perror("sendto");
            std::exit(1);
        }
    }
    while (delivered.load() < count) std::this_thread::yield();
    const double s = Seconds(Clock::now() - start);
    ::close(fd);
    const auto closeStart = Clock::now();
    listener->Close();
    std::printf("%ssocket + listener + %s %9.0f datagrams/s (%d, %.3f s; Close %.1f ms)\n",
                Placement(oneCore), threaded ? "event:  " : "hand-off:", count / s, count, s,
                Seconds(Clock::now() - closeStart) * 1000);
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 200000;
    for (const bool oneCore : {true, false}) {
        BenchHandOff(count, oneCore);
        BenchListener(count, false, oneCore);
    }
    BenchListener(count, true, false);
    return 0;
}
