#include "hand_off.h"

#include <pthread.h>
#include <sched.h>

#include <chrono>
#include <utility>

namespace tarvane {

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
    const bool lingering = windowWaits_;
    lock.unlock();
    if (lingering) {
        arrived_.notify_one();
    } else if (wasEmpty && wake_) {
        bool woken = true;
        try {
            wake_();
        } catch (...) {
            // Whatever the wake-up raised, the request is taken back below instead.
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
    lock.lock();
    finished_.wait(lock, [&] { return request.state == State::Finished; });
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
            // Kept, not swallowed: the error goes back to the worker that asked for the call.
            outcome = Outcome::Raised;
            error = std::current_exception();
        }
        lock.lock();
        request->outcome = outcome;
        request->error = std::move(error);
        // The request may die as soon as its worker sees this, even before the notification.
        request->state = State::Finished;
        // Set with the end of the call, so that the worker's next request, which may follow at
        // once, finds the window thread waiting for it.
        windowWaits_ = lingerAfter;
        lock.unlock();
        finished_.notify_all();
        lock.lock();
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
        std::unique_lock lock(mutex_);
        if (head_) continue;
        windowWaits_ = true;
        flood_ =
            arrived_.wait_until(lock, std::min(now + (flood_ ? linger.flood : linger.idle), end),
                                [this] { return head_ != nullptr; });
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
        return;
    }
}

void HandOff::Discard(Request* request) {
    Unlink(request);
    request->outcome = Outcome::Discarded;
    request->state = State::Finished;
    finished_.notify_all();
}

bool KeepToCurrentCore() {
    const int core = sched_getcpu();
    if (core < 0) return false;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(core, &set);
    return pthread_setaffinity_np(pthread_self(), sizeof set, &set) == 0;
}

}  // namespace tarvane
