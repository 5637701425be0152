#include "foundation/WorkerThread.h"

#include <pthread.h>
#include <sched.h>

#include <chrono>
#include <condition_variable>

namespace sonitor {

namespace {

// Every worker clears its running flag under this lock and wakes Stop();
// one pair for all workers, because the class has no room of its own for
// it and ends are rare enough that waking every stopper costs nothing.
std::mutex finishedLock;
std::condition_variable finished;

// The worker whose Run() the calling thread executes, so that calls made
// from inside Run() are recognised without touching thread_ (which Start
// may still be assigning when the new thread begins).
thread_local const WorkerThread* currentWorker = nullptr;

// Best effort: the real-time classes need privileges most desktop users do
// not have, in which case the thread simply keeps the normal class.
void ApplyPriority(std::thread::native_handle_type handle, ThreadPriority priority) {
    sched_param param{};
    int policy = SCHED_OTHER;
    switch (priority) {
        case ThreadPriority::BelowNormal:
            policy = SCHED_BATCH;
            break;
        case ThreadPriority::Normal:
            policy = SCHED_OTHER;
            break;
        case ThreadPriority::Highest:
            policy = SCHED_RR;
            param.sched_priority = sched_get_priority_min(SCHED_RR);
            break;
        case ThreadPriority::TimeCritical:
            policy = SCHED_FIFO;
            param.sched_priority =
                (sched_get_priority_min(SCHED_FIFO) + sched_get_priority_max(SCHED_FIFO)) / 2;
            break;
    }
    if (pthread_setschedparam(handle, policy, &param) != 0 && policy != SCHED_OTHER) {
        sched_param normal{};
        pthread_setschedparam(handle, SCHED_OTHER, &normal);
    }
}

}  // namespace

WorkerThread::~WorkerThread() {
    // A derived class must Stop() in its own destructor, while Run() can
    // still use its members; this is the last guard that no thread outlives
    // the object.
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(startLock_);
        stop_.Set();
        thread = std::move(thread_);
    }
    if (!thread.joinable()) return;
    if (currentWorker == this) {
        thread.detach();  // destroyed from its own Run(): nothing left to wait for
        return;
    }
    thread.join();
}

void WorkerThread::Start(ThreadPriority priority) {
    if (currentWorker == this) return;  // from its own Run(): it is running
    std::lock_guard<std::mutex> lock(startLock_);
    if (running_.load(std::memory_order_acquire)) return;
    // A thread that ended (or outlived an earlier Stop's time-out and has
    // ended since) is joined here, never left behind.
    if (thread_.joinable()) thread_.join();
    stop_.Reset();
    running_.store(true, std::memory_order_release);
    thread_ = std::thread([this] {
        currentWorker = this;
        Run();
        currentWorker = nullptr;
        {
            std::lock_guard<std::mutex> done(finishedLock);
            running_.store(false, std::memory_order_release);
        }
        finished.notify_all();
    });
    // Always applied: a new thread would otherwise inherit the class of its
    // creator (a boosted feeder starting its completion thread).
    ApplyPriority(thread_.native_handle(), priority);
}

bool WorkerThread::Stop(int timeoutMs) {
    {
        std::lock_guard<std::mutex> lock(startLock_);
        if (!thread_.joinable()) return true;
        stop_.Set();
        // The thread finishes at the priority of whoever waits for it, so a
        // lowered worker does not keep a higher caller waiting.
        if (currentWorker != this && running_.load(std::memory_order_acquire)) {
            int policy = SCHED_OTHER;
            sched_param param{};
            if (pthread_getschedparam(pthread_self(), &policy, &param) == 0) {
                pthread_setschedparam(thread_.native_handle(), policy, &param);
            }
        }
    }
    // A thread cannot wait for itself; its Run() sees the request and ends.
    if (currentWorker == this) return false;
    // The wait happens outside startLock_: the thread being stopped may be
    // busy changing another worker's priority (or this one's) meanwhile.
    {
        std::unique_lock<std::mutex> done(finishedLock);
        if (!finished.wait_for(done, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                               [this] { return !running_.load(std::memory_order_acquire); })) {
            // Still running: it keeps its handle and is joined by the next
            // Start or by the destructor.
            return false;
        }
    }
    std::lock_guard<std::mutex> lock(startLock_);
    // Run() has returned; the join only waits for the thread's last lines.
    if (thread_.joinable() && !running_.load(std::memory_order_acquire)) thread_.join();
    return !running_.load(std::memory_order_acquire);
}

bool WorkerThread::WaitForEventOrStop(const ManualResetEvent& event, int timeoutMs) const {
    return ManualResetEvent::WaitForEither(event, stop_, timeoutMs);
}

void WorkerThread::SetPriority(ThreadPriority priority) {
    if (currentWorker == this) {
        ApplyPriority(pthread_self(), priority);
        return;
    }
    std::lock_guard<std::mutex> lock(startLock_);
    if (thread_.joinable() && running_.load(std::memory_order_acquire))
        ApplyPriority(thread_.native_handle(), priority);
}

}  // namespace sonitor
