#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace sonitor {

class ManualResetEvent;
class ProgressTask;

// Outcome of a long operation.
enum TaskResult : int32_t {
    kTaskDone = 0,
    kTaskCancelled = 1,
    kTaskFailed = 2,
};

// What a long operation needs from whoever shows it: the editor's progress
// dialog, the command-line tool's progress bar, or a scripted test host.
// Tasks run synchronously on the caller's thread; the host is pumped between
// blocks of work, which keeps its display alive and reports cancellation.
class TaskHost {
public:
    virtual ~TaskHost() = default;

    // Shows the progress display for task (caption = the task's title, bar at
    // 0) and keeps the user from starting other work; false when it cannot
    // be shown.
    virtual bool OpenProgress(ProgressTask& task) = 0;
    // Takes the display down (when it still exists) and gives the user the
    // program back. Called once per successful OpenProgress, also after the
    // user cancelled.
    virtual void CloseProgress(ProgressTask& task) = 0;
    // Text line 0 (what is being done) or 1 (usually "Please wait...").
    virtual void SetProgressText(ProgressTask& task, int line, const std::string& text) = 0;
    // The bar, 0..100.
    virtual void SetProgressPercent(ProgressTask& task, int percent) = 0;
    // Handles whatever is pending; true when the user has cancelled.
    virtual bool Pump(ProgressTask& task) = 0;
    // An error message for the user, title "Error", exclamation icon.
    virtual void ShowTaskError(ProgressTask& task, const std::string& text) = 0;
    // How long the waits sleep between pumps.
    virtual int PumpIntervalMs() const { return 20; }
};

// A long operation: a title, a result, and one function that does the work.
// Built by the caller (usually as a local object) with its parameters.
class ProgressTask {
public:
    explicit ProgressTask(std::string title) : title_(std::move(title)) {}
    virtual ~ProgressTask() = default;
    ProgressTask(const ProgressTask&) = delete;
    ProgressTask& operator=(const ProgressTask&) = delete;

    // Does the work and stores its TaskResult with SetResult; returns true.
    virtual bool Run() = 0;

    const std::string& Title() const { return title_; }
    void SetTitle(std::string title) { title_ = std::move(title); }
    int32_t Result() const { return result_; }
    void SetResult(int32_t result) { result_ = result; }

    // While the task runs: the host it runs under.
    TaskHost* Host() const { return host_; }
    bool Running() const { return running_; }
    // The progress display exists: the task runs and the user has not
    // cancelled.
    bool ProgressShown() const { return shown_; }

private:
    friend bool RunTaskWithProgress(ProgressTask& task, TaskHost& host);
    friend bool PumpTaskMessages(ProgressTask& task);

    std::string title_;
    int32_t result_ = kTaskFailed;
    TaskHost* host_ = nullptr;
    bool running_ = false;
    bool shown_ = false;
};

// A task whose work is a function.
class FunctionTask final : public ProgressTask {
public:
    using Work = std::function<int32_t(ProgressTask&)>;
    FunctionTask(std::string title, Work work) : ProgressTask(std::move(title)), work_(std::move(work)) {}
    bool Run() override {
        SetResult(work_(*this));
        return true;
    }

private:
    Work work_;
};

// Shows the progress display, runs the task, takes the display down. Returns
// what Run returned; false without calling Run when the task is already
// running or the display cannot be shown. Callers judge success by
// task.Result() == kTaskDone.
bool RunTaskWithProgress(ProgressTask& task, TaskHost& host);

// The usual starter: result 2, RunTaskWithProgress, the result.
int32_t RunTask(ProgressTask& task, TaskHost& host);

// Lets the host handle what is pending; true when the user has cancelled
// (from then on the display is gone and this keeps answering true).
bool PumpTaskMessages(ProgressTask& task);
// Sets text line 0 or 1 while the display exists.
void SetProgressText(ProgressTask& task, int line, const std::string& text);
// Sets the bar to trunc(fraction * 100) while the display exists.
void SetProgressFraction(ProgressTask& task, double fraction);
// Waits milliseconds while pumping: 1 as soon as the user cancels, else 0.
int WaitWhilePumping(ProgressTask& task, int milliseconds);
// Waits for event while pumping: 0 when it is set, 1 when the user cancels,
// 2 when milliseconds passed first.
int WaitWhilePumping(ProgressTask& task, const ManualResetEvent& event, int milliseconds);
// The task's error message for the user.
void ShowTaskError(ProgressTask& task, const std::string& text);

}  // namespace sonitor
