#include "foundation/ManualResetEvent.h"

#include <chrono>

namespace sonitor {

void ManualResetEvent::Set() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        set_ = true;
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

}  // namespace sonitor
