#include "hand_off.h"

#include <chrono>
#include <utility>

namespace tarvane {

namespace {
// How long a worker spins for its call's end before it blocks. Waking the window thread takes
// up to a hundred microseconds on a busy machine, and a worker that blocks costs as much again:
// under a flood both would be paid for every datagram.
constexpr std::chrono::microseconds kSpin(200);

// Spins until `done` holds or `until` has passed; returns `done` as last seen.
template <typename F>
bool SpinUntil(F done, std::chrono::steady_clock::time_point until) {
    for (unsigned i = 1;; ++i) {
        if (done()) return true;
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
        if (i % 8 == 0 && std::chrono::steady_clock::now() >= until) return done();
    }
}
}  // namespace

HandOff::HandOff(std::function<void()> wake) : wake_(std::move(wake)) {}

HandOff::~HandOff() { Shutdown(); }

HandOff::Result HandOff::Submit(Request& request) {
    std::unique_lock lock(mutex_);
    if (shutDown_ || (request.sender && request.sender->cancelled_)) return {};
    request.seq = nextSeq_++;
    const bool wasEmpty = head_ == nullptr;
    if (tail_) {
        tail_->next = &request;
    } else {
        head_ = &request;
    }
    tail_ = &request;
    ++count_;
    queued_.store(true, std::memory_order_release);
    const bool wake = wasEmpty && !windowWaits_;
    lock.unlock();
    if (wake && wake_) {
        bool woken = true;
        try {
            wake_();
        } catch (...) {
            woken = false;
        }
        if (!woken) {
            lock.lock();
            // Nobody would ever come for a request whose wake-up failed; it must not stay
            // queued once this frame, which holds it, is gone.
            if (request.state == State::Queued) {
                Unlink(&request);
                return {};
            }
            lock.unlock();
        }
    }
    SpinUntil([&] { return request.state.load(std::memory_order_acquire) == State::Finished; },
              std::chrono::steady_clock::now() + kSpin);
    // Taken even after the spin saw the end: the window thread may still be signalling this
    // request under the lock, and the request dies when this returns.
    lock.lock();
    request.signal.wait(lock, [&] { return request.state == State::Finished; });
    return {request.outcome, std::move(request.error)};
}

bool HandOff::RunQueued(bool lingerAfter) {
    std::unique_lock lock(mutex_);
    if (!head_) return false;
    const uint64_t last = tail_->seq;
    while (head_ && head_->seq <= last) {
        Request* request = head_;
        Unlink(request);
        request->state = State::Running;
        // Other workers wake the thread while a call runs: the call may run a nested loop.
        windowWaits_ = false;
        lock.unlock();
        Outcome outcome = Outcome::Done;
        std::exception_ptr error;
        try {
            request->invoke(request->call);
        } catch (...) {
            outcome = Outcome::Raised;
            error = std::current_exception();
        }
        lock.lock();
        request->outcome = outcome;
        request->error = std::move(error);
        request->state = State::Finished;
        // Set with the end of the call, so that the worker's next request, which may follow at
        // once, finds the window thread waiting for it.
        windowWaits_ = lingerAfter;
        // Under the lock: the worker may return, and its request die, as soon as it sees the
        // state.
        request->signal.notify_one();
    }
    return head_ != nullptr;
}

void HandOff::Wake() {
    if (!wake_) return;
    try {
        wake_();
    } catch (...) {
        // The next request's own wake-up, or Shutdown, still takes them.
    }
}

void HandOff::ProcessPending() {
    // Requests that came in meanwhile never saw an empty queue, so nobody has woken us for them.
    if (RunQueued(false)) Wake();
}

void HandOff::ProcessPendingFor(Linger linger, std::chrono::microseconds slice) {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + slice;
    for (;;) {
        if (RunQueued(true)) {
            if (Clock::now() >= end) break;
            continue;
        }
        const auto now = Clock::now();
        if (now >= end) break;
        {
            std::lock_guard lock(mutex_);
            if (head_) continue;
            windowWaits_ = true;
        }
        flood_ = SpinUntil([this] { return queued_.load(std::memory_order_acquire); },
                           std::min(now + (flood_ ? linger.flood : linger.idle), end));
        if (!flood_) break;
    }
    bool more;
    {
        std::lock_guard lock(mutex_);
        windowWaits_ = false;
        more = head_ != nullptr;
    }
    // Whatever came while this thread was not to be woken is taken on the next wake-up.
    if (more) Wake();
}

void HandOff::Shutdown() {
    std::lock_guard lock(mutex_);
    shutDown_ = true;
    while (head_) Discard(head_);
}

void HandOff::Cancel(Sender& sender) {
    std::lock_guard lock(mutex_);
    sender.cancelled_ = true;
    for (Request* r = head_; r;) {
        Request* next = r->next;
        if (r->sender == &sender) Discard(r);
        r = next;
    }
}

void HandOff::Resume(Sender& sender) {
    std::lock_guard lock(mutex_);
    sender.cancelled_ = false;
}

std::size_t HandOff::PendingCount() const {
    std::lock_guard lock(mutex_);
    return count_;
}

void HandOff::Unlink(Request* request) {
    Request* previous = nullptr;
    for (Request* r = head_; r; previous = r, r = r->next) {
        if (r != request) continue;
        (previous ? previous->next : head_) = r->next;
        if (tail_ == r) tail_ = previous;
        r->next = nullptr;
        --count_;
        queued_.store(head_ != nullptr, std::memory_order_release);
        return;
    }
}

void HandOff::Discard(Request* request) {
    Unlink(request);
    request->outcome = Outcome::Discarded;
    request->state = State::Finished;
    request->signal.notify_one();
}

}  // namespace tarvane
