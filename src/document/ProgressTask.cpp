#include "document/ProgressTask.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "foundation/ManualResetEvent.h"

namespace sonitor {

namespace {

using Clock = std::chrono::steady_clock;

int ElapsedMs(Clock::time_point since) {
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

}  // namespace

bool RunTaskWithProgress(ProgressTask& task, TaskHost& host) {
    if (task.running_) return false;
    if (!host.OpenProgress(task)) return false;
    task.host_ = &host;
    task.running_ = true;
    task.shown_ = true;
    host.SetProgressPercent(task, 0);

    const bool ran = task.Run();

    host.CloseProgress(task);
    task.shown_ = false;
    task.running_ = false;
    task.host_ = nullptr;
    return ran;
}

int32_t RunTask(ProgressTask& task, TaskHost& host) {
    task.SetResult(kTaskFailed);
    RunTaskWithProgress(task, host);
    return task.Result();
}

bool PumpTaskMessages(ProgressTask& task) {
    if (task.host_ == nullptr) return false;  // not running: nothing to cancel
    if (!task.shown_) return true;
    if (task.host_->Pump(task)) {
        // Cancel takes the display down at once; the work function notices
        // on its next pump and stops.
        task.shown_ = false;
        return true;
    }
    return false;
}

void SetProgressText(ProgressTask& task, int line, const std::string& text) {
    if (task.ProgressShown() && (line == 0 || line == 1)) task.Host()->SetProgressText(task, line, text);
}

void SetProgressFraction(ProgressTask& task, double fraction) {
    if (!task.ProgressShown()) return;
    const double percent = std::clamp(fraction, 0.0, 1.0) * 100.0;
    task.Host()->SetProgressPercent(task, static_cast<int>(percent));
}

int WaitWhilePumping(ProgressTask& task, int milliseconds) {
    const auto start = Clock::now();
    const int interval = task.Host() ? std::max(1, task.Host()->PumpIntervalMs()) : 20;
    for (;;) {
        if (PumpTaskMessages(task)) return 1;
        const int left = milliseconds - ElapsedMs(start);
        if (left <= 0) return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(left, interval)));
    }
}

int WaitWhilePumping(ProgressTask& task, const ManualResetEvent& event, int milliseconds) {
    const auto start = Clock::now();
    const int interval = task.Host() ? std::max(1, task.Host()->PumpIntervalMs()) : 20;
    for (;;) {
        if (event.IsSet()) return 0;
        if (PumpTaskMessages(task)) return 1;
        const int left = milliseconds - ElapsedMs(start);
        if (left <= 0) return 2;
        if (event.WaitFor(std::min(left, interval))) return 0;
    }
}

void ShowTaskError(ProgressTask& task, const std::string& text) {
    if (task.Host() != nullptr) task.Host()->ShowTaskError(task, text);
}

}  // namespace sonitor
