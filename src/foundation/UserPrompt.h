#pragma once

#include <string>

namespace sonitor {

enum class PromptIcon { None, Information, Warning, Error, Question };
enum class PromptButtons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel };
enum class PromptAnswer { Ok, Cancel, Yes, No, Retry };

// Message boxes and questions. The editor shows them as dialogs, the
// command-line tool on stderr, tests answer them from a script.
class UserPrompt {
public:
    virtual ~UserPrompt() = default;
    virtual PromptAnswer Ask(const std::string& title, const std::string& text, PromptIcon icon,
                             PromptButtons buttons) = 0;

    // A message with only an OK button.
    void Tell(const std::string& title, const std::string& text, PromptIcon icon) {
        Ask(title, text, icon, PromptButtons::Ok);
    }
};

// For programs without a window: prints "title: text" on stderr and answers
// OK to messages, Yes/No (or OK/Cancel) to questions as configured, and
// Cancel to Retry/Cancel questions, since nobody can fix the cause.
class StderrPrompt final : public UserPrompt {
public:
    explicit StderrPrompt(bool answerYes = true) : answerYes_(answerYes) {}
    PromptAnswer Ask(const std::string& title, const std::string& text, PromptIcon icon,
                     PromptButtons buttons) override;

private:
    bool answerYes_;
};

}  // namespace sonitor
