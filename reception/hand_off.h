#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <type_traits>

namespace tarvane {

// Hands calls from worker threads to the window thread and blocks each worker until its call
// has run there. Requests wait in one queue under one lock; the window thread is woken once
// whenever the queue goes from empty to non-empty while it is not lingering for requests in
// ProcessPendingFor, and then runs ProcessPending or ProcessPendingFor, from its main loop and
// from every nested loop alike.
//
// Ours, not the toolkit's blocking queued call: a worker blocked in that call deadlocks with a
// window thread that waits for it to end at shutdown; here its request is discarded first.
//
// The hand-off must outlive every worker that delivers through it.
class HandOff {
  public:
    enum class Outcome { Done, Raised, Discarded };
    struct Result {
        Outcome outcome = Outcome::Discarded;
        // The error the call raised, for Raised.
        std::exception_ptr error;
    };

    // A worker's identity, by which its owner discards the worker's pending request and refuses
    // its further ones (Cancel), e.g. to stop a worker that is blocked in Deliver.
    class Sender {
      public:
        Sender() = default;
        Sender(const Sender&) = delete;
        Sender& operator=(const Sender&) = delete;

      private:
        friend class HandOff;
        bool cancelled_ = false;
    };

    // `wake` is called from the worker's thread and must not block on the window thread; the
    // application posts an event from it.
    explicit HandOff(std::function<void()> wake);
    // Discards what is still pending.
    ~HandOff();
    HandOff(const HandOff&) = delete;
    HandOff& operator=(const HandOff&) = delete;

    // Runs `call` on the window thread and returns once it has run there, or once the request
    // has been discarded. `call` is not copied; it must stay alive for the duration, which it
    // does as an argument.
    template <typename F>
    Result Deliver(F&& call) {
        return DeliverFrom(nullptr, std::forward<F>(call));
    }
    template <typename F>
    Result Deliver(Sender& sender, F&& call) {
        return DeliverFrom(&sender, std::forward<F>(call));
    }

    // On the window thread: runs, in order, the requests that were pending when it was called.
    // Requests that arrive meanwhile are left for the next wake-up, so a busy worker cannot keep
    // the window thread from the rest of its messages. May be nested inside a call.
    void ProcessPending();

    // How long the window thread waits for the next request once the queue has run empty:
    // `idle` at first, `flood` after a wait that a request ended, until one runs out.
    struct Linger {
        std::chrono::microseconds idle;
        std::chrono::microseconds flood;
    };

    // ProcessPending, and then the requests that arrive while it lingers, for at most `slice`
    // in all. Under a flood a worker's next request follows within microseconds, and a window
    // thread that went back to its event loop meanwhile costs a posted wake-up and a loop pass
    // per request. The window thread sleeps on the queue here; the worker posts no wake-up
    // while it does, and requests still pending when the slice ends get one.
    void ProcessPendingFor(Linger linger, std::chrono::microseconds slice);

    // Discards every pending request and every later one; for shutdown.
    void Shutdown();
    // Discards the sender's pending request and its later ones until Resume. A request the window
    // thread is running already runs to its end.
    void Cancel(Sender& sender);
    void Resume(Sender& sender);

    std::size_t PendingCount() const;

  private:
    enum class State { Queued, Running, Finished };
    struct Request {
        void (*invoke)(void*) = nullptr;
        void* call = nullptr;
        Sender* sender = nullptr;
        uint64_t seq = 0;
        Request* next = nullptr;
        State state = State::Queued;
        Outcome outcome = Outcome::Discarded;
        std::exception_ptr error;
    };

    template <typename F>
    Result DeliverFrom(Sender* sender, F&& call) {
        using Call = std::remove_reference_t<F>;
        Request request;
        request.invoke = [](void* c) { (*static_cast<Call*>(c))(); };
        request.call = const_cast<void*>(static_cast<const void*>(std::addressof(call)));
        request.sender = sender;
        return Submit(request);
    }

    Result Submit(Request& request);
    // Runs the requests pending at the call; returns whether more came meanwhile. With
    // `lingerAfter`, workers post no wake-up between one call's end and the next call.
    bool RunQueued(bool lingerAfter);
    void Wake();
    // Under the lock.
    void Unlink(Request* request);
    void Discard(Request* request);

    std::function<void()> wake_;
    mutable std::mutex mutex_;
    Request* head_ = nullptr;
    Request* tail_ = nullptr;
    std::size_t count_ = 0;
    // Workers wait here for their request's end, and the lingering window thread for the next
    // request. A call's end and a request's arrival notify after the lock is released: a thread
    // woken while the notifier still holds it would only block on the lock again, on one core
    // two more switches.
    std::condition_variable finished_;
    std::condition_variable arrived_;
    // Under the lock: the window thread is waiting in ProcessPendingFor and needs no wake-up.
    bool windowWaits_ = false;
    // The window thread's own: its last wait ended with a request.
    bool flood_ = false;
    uint64_t nextSeq_ = 0;
    bool shutDown_ = false;
};

// Keeps the calling thread, and every thread it starts from then on, on the core it runs on now.
// A worker and the window thread take turns through a hand-off and never run at once: on one
// core a turn is a context switch, across two it is a wake-up of the other core, which on a
// virtual machine with an idle core costs several times the call. Returns false where the
// system refuses; the hand-off works either way.
bool KeepToCurrentCore();

}  // namespace tarvane
