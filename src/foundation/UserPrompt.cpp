#include "foundation/UserPrompt.h"

#include <cstdio>

namespace sonitor {

PromptAnswer StderrPrompt::Ask(const std::string& title, const std::string& text, PromptIcon,
                               PromptButtons buttons) {
    std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
    switch (buttons) {
        case PromptButtons::Ok:
            return PromptAnswer::Ok;
        case PromptButtons::OkCancel:
            return answerYes_ ? PromptAnswer::Ok : PromptAnswer::Cancel;
        case PromptButtons::YesNo:
        case PromptButtons::YesNoCancel:
            return answerYes_ ? PromptAnswer::Yes : PromptAnswer::No;
        case PromptButtons::RetryCancel:
            return PromptAnswer::Cancel;
    }
    return PromptAnswer::Cancel;
}

}  // namespace sonitor
