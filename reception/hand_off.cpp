#include "hand_off.h"

#include <chrono>
#include <utility>

namespace tarvane {

namespace {
constexpr std::chrono::microseconds kSpin(20);
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
    lock.unlock();
    if (wasEmpty && wake_) {
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
    // The window thread often answers within microseconds, while waking a thread that has gone
    // to sleep costs tens of them on an idle machine: spin briefly before blocking.
    const auto until = std::chrono::steady_clock::now() + kSpin;
    for (unsigned i = 1; request.state.load(std::memory_order_acquire) != State::Finished; ++i) {
        if (i % 64 == 0 && std::chrono::steady_clock::now() >= until) break;
    }
    // Taken even after the spin saw the end: the window thread may still be signalling this
    // request under the lock, and the request dies when this returns.
    lock.lock();
    request.signal.wait(lock, [&] { return request.state == State::Finished; });
    return {request.outcome, std::move(request.error)};
}

void HandOff::ProcessPending() {
    std::unique_lock lock(mutex_);
    if (!head_) return;
    const uint64_t last = tail_->seq;
    while (head_ && head_->seq <= last) {
        Request* request = head_;
        Unlink(request);
        request->state = State::Running;
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
        // Under the lock: the worker may return, and its request die, as soon as it sees the
        // state.
        request->signal.notify_one();
    }
    // Requests that came in meanwhile never saw an empty queue, so nobody has woken us for them.
    const bool more = head_ != nullptr;
    lock.unlock();
    if (more && wake_) {
        try {
            wake_();
        } catch (...) {
            // The next request's own wake-up, or Shutdown, still takes them.
        }
    }
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
    request->signal.notify_one();
}

}  // namespace tarvane
