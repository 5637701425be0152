#pragma once

#include <string>
#include <utility>
#include <vector>

#include "document/ProgressTask.h"

namespace sonitor::test {

// A task host for tests: records every text, bar value and error, and
// cancels after a given number of pumps (or never).
class ScriptedTaskHost final : public TaskHost {
public:
    // Pump number n (counting from 1) reports cancellation when n >
    // cancelAfterPumps; -1 never cancels.
    int cancelAfterPumps = -1;
    // OpenProgress fails, as when the display cannot be created.
    bool failToOpen = false;

    int opens = 0;
    int closes = 0;
    int pumps = 0;
    std::vector<std::pair<int, std::string>> texts;
    std::vector<int> percents;
    std::vector<std::string> errors;

    bool OpenProgress(ProgressTask&) override;
    void CloseProgress(ProgressTask&) override { ++closes; }
    void SetProgressText(ProgressTask&, int line, const std::string& text) override {
        texts.emplace_back(line, text);
    }
    void SetProgressPercent(ProgressTask&, int percent) override { percents.push_back(percent); }
    bool Pump(ProgressTask&) override;
    void ShowTaskError(ProgressTask&, const std::string& text) override { errors.push_back(text); }
    int PumpIntervalMs() const override { return 5; }
};

}  // namespace sonitor::test
