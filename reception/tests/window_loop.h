#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "reception/hand_off.h"

namespace tarvane::testing {

// A stand-in for the window thread: a thread with a message loop that takes the hand-off's
// wake-ups and tasks posted to it, and that can nest further loops as a modal dialog does.
class WindowLoop {
  public:
    WindowLoop()
        : handOff([this] { Post({}); }), thread_([this] { RunUntil([] { return false; }); }) {}
    ~WindowLoop() {
        Post([this] { quit_ = true; });
        thread_.join();
    }

    HandOff handOff;

    // Runs `task` on the loop thread and waits until it has run.
    void Invoke(const std::function<void()>& task) {
        std::mutex m;
        std::condition_variable cv;
        bool done = false;
        Post([&] {
            task();
            std::lock_guard lock(m);
            done = true;
            cv.notify_one();
        });
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return done; });
    }

    // From the loop thread: processes messages until `until` holds, like a modal dialog.
    void RunNested(const std::function<bool()>& until) { RunUntil(until); }

    std::thread::id Id() const { return thread_.get_id(); }

  private:
    // An empty task is the hand-off's wake-up.
    void Post(std::function<void()> task) {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(task));
        cv_.notify_all();
    }

    void RunUntil(const std::function<bool()>& until) {
        while (!quit_ && !until()) {
            std::function<void()> task;
            {
                std::unique_lock lock(mutex_);
                cv_.wait(lock, [&] { return !queue_.empty(); });
                task = std::move(queue_.front());
                queue_.pop_front();
            }
            if (task) {
                task();
            } else {
                handOff.ProcessPending();
            }
        }
    }

    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> queue_;
    // Touched only on the loop thread.
    bool quit_ = false;
    std::thread thread_;
};

}  // namespace tarvane::testing
