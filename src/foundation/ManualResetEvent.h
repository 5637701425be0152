#pragma once

#include <condition_variable>
#include <mutex>

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

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool set_;
};

}  // namespace sonitor
