#include "foundation/Notifier.h"

#include <chrono>
#include <condition_variable>
#include <iterator>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace sonitor {

namespace {

// The live notifiers, in creation order, and the one whose handler is
// running (so that its destructor, on another thread, waits for it).
struct Registry {
    std::mutex lock;
    std::condition_variable handlerDone;
    uint64_t nextId = 1;
    std::map<uint64_t, Notifier*> notifiers;
    // Handlers running now: (notifier id, thread). More than one when a
    // handler pumps again (a modal loop) or two threads pump.
    std::vector<std::pair<uint64_t, std::thread::id>> running;

    bool RunningElsewhere(uint64_t id) const {
        for (const auto& entry : running) {
            if (entry.first == id && entry.second != std::this_thread::get_id()) return true;
        }
        return false;
    }

    // Wakes WaitAndPumpNotifications; a hint only, the pending flags are
    // what counts.
    std::mutex wakeLock;
    std::condition_variable wake;
    bool anyPending = false;
    std::function<void()> wakeup;
};

Registry& TheRegistry() {
    static Registry* registry = new Registry;  // outlives every static Notifier
    return *registry;
}

}  // namespace

Notifier::Notifier(std::function<void()> handler) : handler_(std::move(handler)) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.lock);
    r.notifiers.emplace(r.nextId++, this);
}

Notifier::~Notifier() {
    Registry& r = TheRegistry();
    std::unique_lock<std::mutex> lock(r.lock);
    uint64_t id = 0;
    for (const auto& [key, notifier] : r.notifiers) {
        if (notifier == this) id = key;
    }
    r.notifiers.erase(id);
    // A handler of ours running on another thread finishes before we go; one
    // running on this thread is our caller, which must not wait for itself.
    r.handlerDone.wait(lock, [&] { return !r.RunningElsewhere(id); });
}

void Notifier::Notify() {
    if (pending_.exchange(true, std::memory_order_acq_rel)) return;  // already pending: coalesced
    Registry& r = TheRegistry();
    std::function<void()> wakeup;
    {
        std::lock_guard<std::mutex> lock(r.wakeLock);
        r.anyPending = true;
        wakeup = r.wakeup;
    }
    r.wake.notify_all();
    if (wakeup) wakeup();
}

int PumpNotifications() {
    Registry& r = TheRegistry();
    {
        std::lock_guard<std::mutex> lock(r.wakeLock);
        r.anyPending = false;
    }
    std::vector<uint64_t> ids;
    {
        std::lock_guard<std::mutex> lock(r.lock);
        ids.reserve(r.notifiers.size());
        for (const auto& entry : r.notifiers)
            ids.push_back(entry.first);
    }
    int ran = 0;
    for (uint64_t id : ids) {
        std::function<void()> handler;
        {
            std::lock_guard<std::mutex> lock(r.lock);
            auto found = r.notifiers.find(id);
            if (found == r.notifiers.end()) continue;  // destroyed by an earlier handler
            Notifier* notifier = found->second;
            if (!notifier->pending_.exchange(false, std::memory_order_acq_rel)) continue;
            // A copy, because the handler may destroy its own notifier.
            handler = notifier->handler_;
            r.running.emplace_back(id, std::this_thread::get_id());
        }
        if (handler) handler();
        ++ran;
        {
            std::lock_guard<std::mutex> lock(r.lock);
            // The innermost entry of this thread for this id is ours.
            for (auto it = r.running.rbegin(); it != r.running.rend(); ++it) {
                if (it->first == id && it->second == std::this_thread::get_id()) {
                    r.running.erase(std::next(it).base());
                    break;
                }
            }
        }
        r.handlerDone.notify_all();
    }
    return ran;
}

int WaitAndPumpNotifications(int timeoutMs) {
    Registry& r = TheRegistry();
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(r.wakeLock);
            r.wake.wait_until(lock, deadline, [&] { return r.anyPending; });
        }
        const int ran = PumpNotifications();
        // A stale hint (the notification was pumped elsewhere) waits on.
        if (ran > 0 || std::chrono::steady_clock::now() >= deadline) return ran;
    }
}

void SetNotificationWakeup(std::function<void()> wakeup) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.wakeLock);
    r.wakeup = std::move(wakeup);
}

}  // namespace sonitor
