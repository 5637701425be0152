#include "cli/TerminalTaskHost.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace sonitor::cli {

namespace {

volatile sig_atomic_t gCancelRequested = 0;
struct sigaction gPrevious;

void OnInterrupt(int signalNumber) {
    if (gCancelRequested) {
        // Asked twice: stop waiting for the task and end the program the way
        // Ctrl-C would have without us (which also clears the working folder).
        sigaction(signalNumber, &gPrevious, nullptr);
        raise(signalNumber);
        return;
    }
    gCancelRequested = 1;
}

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

}  // namespace

TerminalTaskHost::TerminalTaskHost() : terminal_(isatty(STDERR_FILENO) == 1) {}

TerminalTaskHost::~TerminalTaskHost() {
    if (handlerInstalled_) sigaction(SIGINT, &previous_, nullptr);
}

bool TerminalTaskHost::OpenProgress(ProgressTask& task) {
    text_ = task.Title();
    percent_ = 0;
    interrupted_ = false;
    started_ = std::chrono::steady_clock::now();
    drawn_ = {};
    gCancelRequested = 0;

    struct sigaction ours;
    std::memset(&ours, 0, sizeof ours);
    ours.sa_handler = OnInterrupt;
    sigemptyset(&ours.sa_mask);
    if (sigaction(SIGINT, &ours, &previous_) == 0) {
        gPrevious = previous_;
        handlerInstalled_ = true;
    }
    Draw(true);
    return true;
}

void TerminalTaskHost::CloseProgress(ProgressTask& task) {
    if (handlerInstalled_) {
        sigaction(SIGINT, &previous_, nullptr);
        handlerInstalled_ = false;
    }
    interrupted_ = gCancelRequested != 0;
    const char* outcome = task.Result() == kTaskDone        ? "done"
                          : task.Result() == kTaskCancelled ? "cancelled"
                                                            : "failed";
    if (terminal_) ClearLine();
    std::fprintf(stderr, "%s: %s (%.1f s)\n", text_.c_str(), outcome,
                 Seconds(std::chrono::steady_clock::now() - started_));
}

void TerminalTaskHost::SetProgressText(ProgressTask&, int line, const std::string& text) {
    if (line != 0) return;  // line 1 is "Please wait...": the bar says that already
    text_ = text;
    Draw(true);
}

void TerminalTaskHost::SetProgressPercent(ProgressTask&, int percent) {
    percent_ = percent;
    Draw(false);
}

bool TerminalTaskHost::Pump(ProgressTask&) {
    Draw(false);
    return gCancelRequested != 0;
}

void TerminalTaskHost::ShowTaskError(ProgressTask&, const std::string& text) {
    if (terminal_) ClearLine();
    std::fprintf(stderr, "Error: %s\n", text.c_str());
    Draw(true);
}

void TerminalTaskHost::ClearLine() {
    std::fputs("\r\033[K", stderr);
}

void TerminalTaskHost::Draw(bool force) {
    if (!terminal_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - drawn_ < std::chrono::milliseconds(100)) return;
    drawn_ = now;
    constexpr int kWidth = 30;
    const int filled = percent_ * kWidth / 100;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kWidth - filled), '.');
    std::fprintf(stderr, "\r\033[K%s [%s] %3d%%", text_.c_str(), bar.c_str(), percent_);
    std::fflush(stderr);
}

}  // namespace sonitor::cli
