#include "foundation/ManualResetEvent.h"

#include <algorithm>
#include <chrono>

namespace sonitor {

// One thread's wait for several events: each event it watches flags it on
// Set. Lock order: an event's mutex, then the waiter's.
struct ManualResetEvent::Waiter {
    std::mutex mutex;
    std::condition_variable wake;
    bool signalled = false;
};

void ManualResetEvent::Set() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        set_ = true;
        for (Waiter* waiter : waiters_) {
            {
                std::lock_guard<std::mutex> waiterLock(waiter->mutex);
                waiter->signalled = true;
            }
            waiter->wake.notify_all();
        }
    }
    changed_.notify_all();
}

void ManualResetEvent::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    set_ = false;
}

bool ManualResetEvent::IsSet() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return set_;
}

bool ManualResetEvent::WaitFor(int milliseconds) const {
    std::unique_lock<std::mutex> lock(mutex_);
    if (milliseconds <= 0) return set_;
    return changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return set_; });
}

void ManualResetEvent::Wait() const {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return set_; });
}

void ManualResetEvent::AddWaiter(Waiter* waiter) const {
    std::lock_guard<std::mutex> lock(mutex_);
    waiters_.push_back(waiter);
}

void ManualResetEvent::RemoveWaiter(Waiter* waiter) const {
    std::lock_guard<std::mutex> lock(mutex_);
    waiters_.erase(std::remove(waiters_.begin(), waiters_.end(), waiter), waiters_.end());
}

bool ManualResetEvent::WaitForEither(const ManualResetEvent& a, const ManualResetEvent& b, int milliseconds) {
    if (a.IsSet() || b.IsSet()) return true;
    if (milliseconds <= 0) return false;
    if (&a == &b) return a.WaitFor(milliseconds);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    Waiter waiter;
    a.AddWaiter(&waiter);
    b.AddWaiter(&waiter);
    bool result = false;
    for (;;) {
        // Registered first, looked second: a Set between the two still flags
        // the waiter, so no wake-up is lost.
        if (a.IsSet() || b.IsSet()) {
            result = true;
            break;
        }
        std::unique_lock<std::mutex> lock(waiter.mutex);
        if (!waiter.wake.wait_until(lock, deadline, [&] { return waiter.signalled; })) break;
        // Set and then Reset again before we looked: wait on for the rest.
        waiter.signalled = false;
    }
    a.RemoveWaiter(&waiter);
    b.RemoveWaiter(&waiter);
    return result;
}

}  // namespace sonitor
