#include "reception/hand_off.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "reception/tests/window_loop.h"
#include "testsupport/wait.h"

namespace tarvane {
namespace {

using Outcome = HandOff::Outcome;

void AwaitTrue(const std::function<bool()>& condition) {
    ASSERT_TRUE(testing::WaitUntil(condition, std::chrono::seconds(30)));
}

// A hand-off driven by hand: the test is the window thread and counts the wake-ups.
class ManualHandOff : public ::testing::Test {
  protected:
    std::atomic<int> wakes{0};
    HandOff handOff{[this] { ++wakes; }};

    // Starts a worker that delivers `call`; its result lands in `result`.
    std::thread Worker(std::function<void()> call, HandOff::Result& result,
                       HandOff::Sender* sender = nullptr) {
        return std::thread([this, call = std::move(call), &result, sender] {
            result = sender ? handOff.Deliver(*sender, call) : handOff.Deliver(call);
        });
    }
    // Delivers `call` from a worker and, once it is queued, processes it here.
    HandOff::Result DeliverAndProcess(std::function<void()> call,
                                      HandOff::Sender* sender = nullptr) {
        HandOff::Result result;
        std::thread worker = Worker(std::move(call), result, sender);
        AwaitTrue([&] { return handOff.PendingCount() > 0; });
        handOff.ProcessPending();
        worker.join();
        return result;
    }
};

TEST_F(ManualHandOff, CallRunsOnTheProcessingThreadAndReportsItsOutcome) {
    struct Case {
        std::function<void()> call;
        Outcome outcome;
        std::string message;
    };
    const std::vector<Case> cases = {
        {[] {}, Outcome::Done, ""},
        {[] { throw std::runtime_error("bad priority"); }, Outcome::Raised, "bad priority"},
        {[] { throw 42; }, Outcome::Raised, ""},
    };
    for (const Case& c : cases) {
        std::thread::id ranOn;
        const HandOff::Result result = DeliverAndProcess([&] {
            ranOn = std::this_thread::get_id();
            c.call();
        });
        EXPECT_EQ(ranOn, std::this_thread::get_id());
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(result.error != nullptr, c.outcome == Outcome::Raised);
        if (!c.message.empty()) {
            try {
                std::rethrow_exception(result.error);
            } catch (const std::runtime_error& e) {
                EXPECT_EQ(e.what(), c.message);
            }
        }
    }
}

TEST_F(ManualHandOff, OneWakeUpPerQueueThatWasEmpty) {
    std::vector<int> ran;
    HandOff::Result results[3];
    std::vector<std::thread> workers;
    for (int i = 0; i < 3; ++i) {
        workers.push_back(Worker([&ran, i] { ran.push_back(i); }, results[i]));
        // One after the other, so that the order is known.
        AwaitTrue([&] { return handOff.PendingCount() == size_t(i) + 1; });
    }
    EXPECT_EQ(wakes, 1);
    handOff.ProcessPending();
    for (std::thread& w : workers) w.join();
    EXPECT_EQ(ran, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(wakes, 1);
}

// A request that arrives behind others while they run never sees an empty queue; without a
// fresh wake-up it would wait until some unrelated request came along.
TEST_F(ManualHandOff, RequestArrivingDuringProcessingGetsAWakeUpOfItsOwn) {
    HandOff::Result a, b, c;
    std::thread late;
    bool lateRan = false;
    std::thread first = Worker(
        [&] {
            late = Worker([&] { lateRan = true; }, c);
            AwaitTrue([&] { return handOff.PendingCount() == 2; });
        },
        a);
    AwaitTrue([&] { return handOff.PendingCount() == 1; });
    std::thread second = Worker([] {}, b);
    AwaitTrue([&] { return handOff.PendingCount() == 2; });
    EXPECT_EQ(wakes, 1);

    handOff.ProcessPending();
    first.join();
    second.join();
    EXPECT_FALSE(lateRan);
    EXPECT_EQ(handOff.PendingCount(), 1u);
    EXPECT_EQ(wakes, 2);

    handOff.ProcessPending();
    late.join();
    EXPECT_TRUE(lateRan);
    EXPECT_EQ(c.outcome, Outcome::Done);
}

TEST_F(ManualHandOff, ShutdownDiscardsPendingAndRefusesNewRequests) {
    bool ran = false;
    HandOff::Result result;
    std::thread worker = Worker([&] { ran = true; }, result);
    AwaitTrue([&] { return handOff.PendingCount() > 0; });
    handOff.Shutdown();
    worker.join();
    EXPECT_EQ(result.outcome, Outcome::Discarded);
    EXPECT_EQ(handOff.PendingCount(), 0u);
    EXPECT_EQ(handOff.Deliver([&] { ran = true; }).outcome, Outcome::Discarded);
    handOff.ProcessPending();
    EXPECT_FALSE(ran);
}

TEST_F(ManualHandOff, CancelDiscardsOnlyThatSendersRequestsUntilResumed) {
    HandOff::Sender cancelled, other;
    std::vector<std::string> ran;
    HandOff::Result r1, r2;
    std::thread w1 = Worker([&] { ran.push_back("cancelled"); }, r1, &cancelled);
    AwaitTrue([&] { return handOff.PendingCount() > 0; });
    std::thread w2 = Worker([&] { ran.push_back("other"); }, r2, &other);
    handOff.Cancel(cancelled);
    w1.join();
    EXPECT_EQ(r1.outcome, Outcome::Discarded);
    EXPECT_EQ(handOff.Deliver(cancelled, [&] { ran.push_back("refused"); }).outcome,
              Outcome::Discarded);
    AwaitTrue([&] { return handOff.PendingCount() > 0; });
    handOff.ProcessPending();
    w2.join();
    EXPECT_EQ(r2.outcome, Outcome::Done);

    handOff.Resume(cancelled);
    EXPECT_EQ(DeliverAndProcess([&] { ran.push_back("resumed"); }, &cancelled).outcome,
              Outcome::Done);
    EXPECT_EQ(ran, (std::vector<std::string>{"other", "resumed"}));
}

// A worker that delivers `count` calls back to back, as the listener does under a flood; each
// call takes `work`.
std::thread Flood(HandOff& handOff, int count, std::vector<int>& ran,
                  std::chrono::microseconds work = {}) {
    return std::thread([&handOff, count, &ran, work] {
        for (int i = 0; i < count; ++i)
            handOff.Deliver([&ran, i, work] {
                if (work.count() > 0) std::this_thread::sleep_for(work);
                ran.push_back(i);
            });
    });
}

TEST_F(ManualHandOff, LingeringTakesAFloodWithoutWakeUps) {
    std::vector<int> ran;
    std::thread worker = Flood(handOff, 200, ran);
    AwaitTrue([&] { return wakes > 0; });
    const int wakesBefore = wakes;
    // A generous linger: the worker's next request always comes within it, even under a
    // sanitizer.
    while (ran.size() < 200)
        handOff.ProcessPendingFor({std::chrono::milliseconds(50), std::chrono::milliseconds(50)},
                                  std::chrono::seconds(10));
    worker.join();
    ASSERT_EQ(ran.size(), 200u);
    for (int i = 0; i < 200; ++i) EXPECT_EQ(ran[size_t(i)], i);
    // Each pass that ran out of linger in between (a slow machine) allows one; a pass that takes
    // the flood whole leaves the worker nothing to wake it for.
    EXPECT_LE(wakes - wakesBefore, 2);
}

TEST_F(ManualHandOff, LingeringEndsWithTheSliceAndLeavesAWakeUpForTheRest) {
    std::vector<int> ran;
    std::thread worker = Flood(handOff, 200, ran, std::chrono::microseconds(200));
    AwaitTrue([&] { return handOff.PendingCount() > 0; });
    handOff.ProcessPendingFor({std::chrono::milliseconds(50), std::chrono::milliseconds(50)},
                              std::chrono::milliseconds(2));
    // The slice ended with the worker's next request queued or on its way: one wake-up, from
    // the window thread or from the worker, is owed for it, and none was posted during the
    // slice.
    const size_t afterSlice = ran.size();
    EXPECT_LT(afterSlice, 200u);
    AwaitTrue([&] { return handOff.PendingCount() > 0; });
    EXPECT_EQ(wakes, 2);
    while (ran.size() < 200) {
        AwaitTrue([&] { return handOff.PendingCount() > 0; });
        handOff.ProcessPending();
    }
    worker.join();
    EXPECT_GT(ran.size(), afterSlice);
}

TEST_F(ManualHandOff, AnIdleLingerReturnsAndTheNextRequestWakesAgain) {
    const auto start = std::chrono::steady_clock::now();
    handOff.ProcessPendingFor({std::chrono::microseconds(100), std::chrono::milliseconds(1)},
                              std::chrono::seconds(10));
    // An empty queue is left at once: no linger without a request before it.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    HandOff::Result result;
    std::thread worker = Worker([] {}, result);
    AwaitTrue([&] { return handOff.PendingCount() > 0; });
    EXPECT_EQ(wakes, 1);
    handOff.ProcessPendingFor({std::chrono::microseconds(100), std::chrono::milliseconds(1)},
                              std::chrono::seconds(10));
    worker.join();
    EXPECT_EQ(result.outcome, Outcome::Done);
    // The linger after it ran out with nothing: a later request must wake the thread again.
    EXPECT_EQ(DeliverAndProcess([] {}).outcome, Outcome::Done);
    EXPECT_EQ(wakes, 2);
}

TEST(KeepToCurrentCore, HoldsTheThreadAndTheThreadsItStartsLaterToOneCore) {
    std::thread([] {
        ASSERT_TRUE(KeepToCurrentCore());
        cpu_set_t own, started;
        ASSERT_EQ(pthread_getaffinity_np(pthread_self(), sizeof own, &own), 0);
        EXPECT_EQ(CPU_COUNT(&own), 1);
        EXPECT_TRUE(CPU_ISSET(sched_getcpu(), &own));
        std::thread([&started] {
            pthread_getaffinity_np(pthread_self(), sizeof started, &started);
        }).join();
        EXPECT_TRUE(CPU_EQUAL(&own, &started));
    }).join();
}

TEST(HandOffLoop, NestedLoopInsideACallTakesOtherRequests) {
    testing::WindowLoop loop;
    std::vector<std::string> ran;
    std::thread inner;
    const HandOff::Result outer = loop.handOff.Deliver([&] {
        ran.push_back("outer begins");
        inner = std::thread([&] { loop.handOff.Deliver([&] { ran.push_back("inner"); }); });
        loop.RunNested([&] { return ran.size() == 2; });
        ran.push_back("outer ends");
    });
    inner.join();
    EXPECT_EQ(outer.outcome, Outcome::Done);
    EXPECT_EQ(ran, (std::vector<std::string>{"outer begins", "inner", "outer ends"}));
}

TEST(HandOffLoop, ManyWorkersEachInOrder) {
    testing::WindowLoop loop;
    constexpr int kWorkers = 4;
    constexpr int kCalls = 2000;
    std::vector<int> last(kWorkers, -1);
    int outOfOrder = 0;
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.emplace_back([&, w] {
            for (int i = 0; i < kCalls; ++i) {
                const HandOff::Result r = loop.handOff.Deliver([&] {
                    if (last[w] != i - 1) ++outOfOrder;
                    last[w] = i;
                });
                ASSERT_EQ(r.outcome, Outcome::Done);
            }
        });
    }
    for (std::thread& t : workers) t.join();
    loop.Invoke([&] {
        EXPECT_EQ(outOfOrder, 0);
        EXPECT_EQ(last, std::vector<int>(kWorkers, kCalls - 1));
    });
}

}  // namespace
}  // namespace tarvane
