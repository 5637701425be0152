#pragma once

#include <atomic>
#include <functional>

namespace sonitor {

// Lets worker threads wake the user-interface thread: Notify() may be
// called from any thread; the handler runs later on the thread that pumps
// notifications (the editor's event loop, or the wait loop of sonitor-cli
// and of tests). Notifications coalesce: several Notify() calls before the
// handler runs give one call.
class Notifier {
public:
    explicit Notifier(std::function<void()> handler);
    // After destruction the handler is never called again.
    ~Notifier();
    Notifier(const Notifier&) = delete;
    Notifier& operator=(const Notifier&) = delete;

    void Notify();

private:
    friend int PumpNotifications();
    std::function<void()> handler_;
    std::atomic<bool> pending_{false};
};

// Runs the handlers of the pending notifications on the calling thread;
// returns how many ran.
int PumpNotifications();
// Waits up to timeoutMs for a notification to be pending, then pumps.
int WaitAndPumpNotifications(int timeoutMs);
// Called from any thread whenever a notification becomes pending, so that
// an event loop (the editor's) can wake and pump; nothing by default.
void SetNotificationWakeup(std::function<void()> wakeup);

}  // namespace sonitor
