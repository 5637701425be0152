// Worker threads, waiting for either of two events, and the notifier that
// carries worker news to the pumping thread.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/ManualResetEvent.h"
#include "foundation/Notifier.h"
#include "foundation/WorkerThread.h"

namespace sonitor {
namespace {

using Clock = std::chrono::steady_clock;

int64_t MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Runs until stopped, or ignores the stop until `release` is set.
class TestWorker final : public WorkerThread {
public:
    ~TestWorker() override {
        release.Set();
        Stop(10000);
    }
    std::atomic<int> runs{0};
    std::atomic<int> concurrent{0};
    std::atomic<int> maxConcurrent{0};
    bool ignoreStop = false;
    ManualResetEvent release;
    ManualResetEvent entered;

protected:
    void Run() override {
        const int now = ++concurrent;
        maxConcurrent = std::max(maxConcurrent.load(), now);
        ++runs;
        entered.Set();
        if (ignoreStop) {
            release.Wait();
        } else {
            ManualResetEvent never;
            while (!WaitForEventOrStop(never, 10000)) {
            }
        }
        --concurrent;
    }
};

TEST(WorkerThreadTest, StartStopAndTheThreadThatOutlivesItsTimeOut) {
    TestWorker worker;
    worker.Start();
    worker.Start();  // already running: ignored
    ASSERT_TRUE(worker.entered.WaitFor(5000));
    EXPECT_TRUE(worker.Running());
    // A stop request wakes the 10 s wait at once.
    const auto start = Clock::now();
    EXPECT_TRUE(worker.Stop(5000));
    EXPECT_LT(MillisecondsSince(start), 2000);
    EXPECT_FALSE(worker.Running());
    EXPECT_EQ(worker.runs, 1);
    EXPECT_TRUE(worker.Stop(100));  // no thread: nothing to do

    // A Run() that does not honour the stop: Stop reports the time-out, a
    // Start meanwhile does not start a second Run(), and once it ends the
    // next Start joins it and runs again.
    worker.ignoreStop = true;
    worker.entered.Reset();
    worker.Start();
    ASSERT_TRUE(worker.entered.WaitFor(5000));
    EXPECT_FALSE(worker.Stop(30));
    EXPECT_TRUE(worker.StopRequested());
    worker.Start();
    EXPECT_EQ(worker.runs, 2);
    worker.release.Set();
    while (worker.Running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    worker.ignoreStop = false;
    worker.Start();
    EXPECT_FALSE(worker.StopRequested());
    EXPECT_TRUE(worker.Stop(5000));
    EXPECT_EQ(worker.runs, 3);
    EXPECT_EQ(worker.maxConcurrent, 1);
}

TEST(WorkerThreadTest, ManyStartStopCyclesAtEveryPriority) {
    TestWorker worker;
    const ThreadPriority priorities[] = {ThreadPriority::BelowNormal, ThreadPriority::Normal,
                                         ThreadPriority::Highest, ThreadPriority::TimeCritical};
    for (int i = 0; i < 1000; ++i) {
        worker.Start(priorities[i % 4]);
        if (i % 3 == 0) worker.SetPriority(priorities[(i + 1) % 4]);
        ASSERT_TRUE(worker.Stop(5000));
    }
    EXPECT_EQ(worker.runs, 1000);
    EXPECT_EQ(worker.maxConcurrent, 1);
}

TEST(WorkerThreadTest, WaitForEitherEvent) {
    ManualResetEvent a, b;
    EXPECT_FALSE(ManualResetEvent::WaitForEither(a, b, 0));
    EXPECT_FALSE(ManualResetEvent::WaitForEither(a, b, 20));
    b.Set();
    EXPECT_TRUE(ManualResetEvent::WaitForEither(a, b, 0));
    b.Reset();

    // Set from another thread while waiting: woken long before the limit.
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        a.Set();
    });
    const auto start = Clock::now();
    EXPECT_TRUE(ManualResetEvent::WaitForEither(a, b, 10000));
    EXPECT_LT(MillisecondsSince(start), 5000);
    setter.join();
}

TEST(NotifierTest, CoalescesAndRunsOnThePumpingThread) {
    int calls = 0;
    std::thread::id handlerThread;
    Notifier notifier([&] {
        ++calls;
        handlerThread = std::this_thread::get_id();
    });
    int wakeups = 0;
    SetNotificationWakeup([&] { ++wakeups; });
    std::vector<std::thread> posters;
    for (int t = 0; t < 4; ++t) {
        posters.emplace_back([&] {
            for (int i = 0; i < 100; ++i)
                notifier.Notify();
        });
    }
    for (auto& poster : posters)
        poster.join();
    SetNotificationWakeup(nullptr);
    EXPECT_EQ(calls, 0);  // nothing runs until pumped
    EXPECT_EQ(wakeups, 1);
    EXPECT_EQ(PumpNotifications(), 1);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(handlerThread, std::this_thread::get_id());
    EXPECT_EQ(PumpNotifications(), 0);

    // A Notify from a worker ends the wait early.
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        notifier.Notify();
    });
    const auto start = Clock::now();
    EXPECT_EQ(WaitAndPumpNotifications(10000), 1);
    EXPECT_LT(MillisecondsSince(start), 5000);
    poster.join();
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(WaitAndPumpNotifications(20), 0);
}

TEST(NotifierTest, NoHandlerRunsAfterDestruction) {
    int calls = 0;
    auto pendingThenDestroyed = std::make_unique<Notifier>([&] { ++calls; });
    pendingThenDestroyed->Notify();
    pendingThenDestroyed.reset();
    EXPECT_EQ(PumpNotifications(), 0);

    // A handler may destroy its own notifier (a player closing itself), and
    // one destroyed by an earlier handler in the same pump is skipped.
    std::unique_ptr<Notifier> second;
    std::unique_ptr<Notifier> first = std::make_unique<Notifier>([&] {
        ++calls;
        second.reset();
        first.reset();
    });
    second = std::make_unique<Notifier>([&] { calls += 100; });
    first->Notify();
    second->Notify();
    EXPECT_EQ(PumpNotifications(), 1);
    EXPECT_EQ(calls, 1);

    // Destroyed on another thread while its handler runs here: the
    // destructor waits for the handler to return.
    ManualResetEvent inHandler, finishHandler;
    std::atomic<bool> handlerDone{false};
    auto shared = std::make_unique<Notifier>([&] {
        inHandler.Set();
        finishHandler.WaitFor(200);
        handlerDone = true;
    });
    shared->Notify();
    std::atomic<bool> destroyedBeforeHandlerEnded{false};
    std::thread destroyer([&] {
        inHandler.Wait();
        shared.reset();
        destroyedBeforeHandlerEnded = !handlerDone;
    });
    PumpNotifications();
    destroyer.join();
    EXPECT_FALSE(destroyedBeforeHandlerEnded);
}

}  // namespace
}  // namespace sonitor
