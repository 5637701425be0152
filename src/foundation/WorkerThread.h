#pragma once

#include <atomic>
#include <mutex>
#include <thread>

#include "foundation/ManualResetEvent.h"

namespace sonitor {

enum class ThreadPriority { BelowNormal, Normal, Highest, TimeCritical };

// A thread owned by an object: Start runs Run() on a new thread, Stop asks
// it to end and waits a bounded time. The thread is always joined before
// the object (and anything Run uses) goes away: a thread that outlives
// Stop's time-out is joined by the next Start or by the destructor, never
// detached.
class WorkerThread {
public:
    WorkerThread() = default;
    virtual ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Does nothing while the thread runs; otherwise joins a finished one,
    // clears the stop request and starts Run() at the given priority
    // (best effort: priorities the system refuses are ignored).
    void Start(ThreadPriority priority = ThreadPriority::Normal);
    // Requests the stop and waits up to timeoutMs for Run() to return; true
    // when it has (the thread is then joined).
    bool Stop(int timeoutMs);
    bool Running() const { return running_.load(std::memory_order_acquire); }
    bool StopRequested() const { return stop_.IsSet(); }
    // Waits until event is set or a stop is requested; false when the time
    // ran out first.
    bool WaitForEventOrStop(const ManualResetEvent& event, int timeoutMs) const;
    // Changes the running thread's priority (best effort).
    void SetPriority(ThreadPriority priority);

protected:
    virtual void Run() = 0;

private:
    std::mutex startLock_;
    std::thread thread_;
    std::atomic<bool> running_{false};
    ManualResetEvent stop_;
};

}  // namespace sonitor
