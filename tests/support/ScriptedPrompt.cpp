#include "ScriptedPrompt.h"

namespace sonitor::test {

PromptAnswer ScriptedPrompt::Ask(const std::string& title, const std::string& text, PromptIcon icon,
                                 PromptButtons buttons) {
    shown_.push_back({title, text, icon, buttons});
    if (!answers_.empty()) {
        const PromptAnswer a = answers_.front();
        answers_.pop_front();
        return a;
    }
    switch (buttons) {
        case PromptButtons::YesNo:
        case PromptButtons::YesNoCancel:
            return PromptAnswer::Yes;
        case PromptButtons::RetryCancel:
            return PromptAnswer::Cancel;
        default:
            return PromptAnswer::Ok;
    }
}

}  // namespace sonitor::test
