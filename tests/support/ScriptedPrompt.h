#pragma once

#include <deque>
#include <string>
#include <vector>

#include "foundation/UserPrompt.h"

namespace sonitor::test {

// Answers prompts from a queue (OK / Yes when the queue is empty) and
// records every prompt so tests can assert on the exact text.
class ScriptedPrompt final : public UserPrompt {
public:
    struct Shown {
        std::string title;
        std::string text;
        PromptIcon icon;
        PromptButtons buttons;
    };

    void QueueAnswer(PromptAnswer answer) { answers_.push_back(answer); }
    PromptAnswer Ask(const std::string& title, const std::string& text, PromptIcon icon,
                     PromptButtons buttons) override;

    const std::vector<Shown>& History() const { return shown_; }
    void ClearHistory() { shown_.clear(); }

private:
    std::deque<PromptAnswer> answers_;
    std::vector<Shown> shown_;
};

}  // namespace sonitor::test
