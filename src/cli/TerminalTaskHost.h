#pragma once

#include <chrono>
#include <csignal>
#include <string>

#include "document/ProgressTask.h"

namespace sonitor::cli {

// Shows tasks on stderr: a progress bar with the task's text when stderr is
// a terminal, one line per finished task otherwise. Ctrl-C while a task runs
// cancels it (a second Ctrl-C ends the program at once); outside tasks
// Ctrl-C keeps whatever meaning it had.
class TerminalTaskHost final : public TaskHost {
public:
    TerminalTaskHost();
    ~TerminalTaskHost() override;

    bool OpenProgress(ProgressTask& task) override;
    void CloseProgress(ProgressTask& task) override;
    void SetProgressText(ProgressTask& task, int line, const std::string& text) override;
    void SetProgressPercent(ProgressTask& task, int percent) override;
    bool Pump(ProgressTask& task) override;
    void ShowTaskError(ProgressTask& task, const std::string& text) override;
    int PumpIntervalMs() const override { return 50; }

    // True when the last task ended because of Ctrl-C.
    bool Interrupted() const { return interrupted_; }

private:
    void Draw(bool force);
    void ClearLine();

    bool terminal_;
    bool interrupted_ = false;
    std::string text_;
    int percent_ = 0;
    std::chrono::steady_clock::time_point started_;
    std::chrono::steady_clock::time_point drawn_;
    struct sigaction previous_ {};
    bool handlerInstalled_ = false;
};

}  // namespace sonitor::cli
