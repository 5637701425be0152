#pragma once

#include <condition_variable>
#include <mutex>
#include <vector>

namespace sonitor {

// An event that stays set until it is reset; any number of threads may wait
// for it.
class ManualResetEvent {
public:
    explicit ManualResetEvent(bool initiallySet = false) : set_(initiallySet) {}
    ManualResetEvent(const ManualResetEvent&) = delete;
    ManualResetEvent& operator=(const ManualResetEvent&) = delete;

    void Set();
    void Reset();
    bool IsSet() const;
    // Waits at most milliseconds (0: just looks); true when the event is set.
    bool WaitFor(int milliseconds) const;
    void Wait() const;
    // Waits at most milliseconds (0: just looks) until a or b is set; true
    // when one of them is. Sleeps without polling.
    static bool WaitForEither(const ManualResetEvent& a, const ManualResetEvent& b, int milliseconds);

private:
    struct Waiter;
    void AddWaiter(Waiter* waiter) const;
    void RemoveWaiter(Waiter* waiter) const;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    // Threads waiting for this event together with another one; Set wakes
    // them as well as the plain waiters.
    mutable std::vector<Waiter*> waiters_;
    bool set_;
};

}  // namespace sonitor
